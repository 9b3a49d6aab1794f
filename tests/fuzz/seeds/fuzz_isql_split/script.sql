CREATE PROCEDURE q()
BEGIN
  SELECT 1;
END
go
SELECT 'a;b' FROM dummy; -- c
/* x; */ .tables
CALL q();
