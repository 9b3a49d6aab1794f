CALL p(:a,:b) // line
/* block */ x:=1 12.5 <>= GROUP BY FOR UPDATE