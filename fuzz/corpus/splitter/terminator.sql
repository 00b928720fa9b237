SET TERM ^ ;
CREATE TRIGGER TR FOR T BEFORE INSERT AS
BEGIN
  NEW.A = 1;
END
^
create procedure P (A INTEGER) returns (B INTEGER) as
begin
  B = :A;
  suspend;
end^
SET TERM ; ^
SET TERM fim;
DELETE FROM T fim
SET TERM ; FIM
