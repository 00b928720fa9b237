-- The demo's central catalogue (a SQLite file behind the alias Check): the
-- two tables the program reads, which zembo-demo-data fills, and the one its
-- runs report to (atualizacoes, as the maker creates it on SQLite).
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
CREATE TABLE atualizacoes (
  execucao      CHAR(36)     NOT NULL,
  evento        VARCHAR(6)   NOT NULL,
  instalacao    CHAR(36)     NOT NULL,
  alias         VARCHAR(30)  NOT NULL,
  maquina       VARCHAR(64)  NOT NULL,
  face          VARCHAR(8)   NOT NULL,
  momento       DATETIME     NOT NULL,
  resultado     VARCHAR(12),
  causa         VARCHAR(500),
  serie_antes   INTEGER,
  serie_depois  INTEGER,
  versao_antes  VARCHAR(10),
  versao_depois VARCHAR(10),
  arquivos      INTEGER,
  bytes         BIGINT,
  script_falhou VARCHAR(10),
  atualizador   VARCHAR(40),
  PRIMARY KEY (execucao, evento)
);
