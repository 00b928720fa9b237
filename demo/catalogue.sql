-- The demo's central catalogue (a SQLite file behind the alias Check): the
-- two tables the program reads. zembo-demo-data fills them.
CREATE TABLE principal (
  senha_ftp  VARCHAR(60),
  senha_ftp2 VARCHAR(60)
);
CREATE TABLE scripts (
  programa VARCHAR(20) NOT NULL,
  versao   VARCHAR(10) NOT NULL,
  texto    BLOB NOT NULL,
  liberado CHAR(1),
  data     DATETIME,
  PRIMARY KEY (programa, versao)
);
