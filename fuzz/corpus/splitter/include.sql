INPUT 'missing.sql';
INPUT other.sql;
SET BATCH START;
INSERT INTO T VALUES (3, 'x');
SET BATCH EXECUTE;
/* never closed
DELETE FROM U;
