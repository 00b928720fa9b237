/* 0007: still being tested by the maker (liberado 'N'): no customer gets it. */
ALTER TABLE CLIENTES ADD TELEFONE VARCHAR(20);
