/* The demo's customer database after CREATE DATABASE (dialect 1, character
   set NONE): a little of the business system's data and VERSAO at 0003. The
   catalogue's scripts 0004 to 0006 build on it. */
CREATE TABLE CLIENTES (
  CODIGO INTEGER NOT NULL PRIMARY KEY,
  NOME   VARCHAR(60) NOT NULL,
  CIDADE VARCHAR(40)
);
INSERT INTO CLIENTES VALUES (1, 'Padaria Sao Jorge', 'Curitiba');
INSERT INTO CLIENTES VALUES (2, 'Mercado Boa Vista', 'Londrina');
INSERT INTO CLIENTES VALUES (3, 'Farmacia Central', 'Maringa');
CREATE TABLE VERSAO (VERSAO VARCHAR(10));
INSERT INTO VERSAO VALUES ('0003');
COMMIT;
