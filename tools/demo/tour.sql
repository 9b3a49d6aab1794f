-- A short tour of the demonstration database (make demo runs it through zylo-isql --echo).

-- A query over the three related tables.
SELECT c.name, count(*) AS orders, sum(o.quantity * p.price) AS amount
  FROM customer c JOIN orders o ON o.customer_id = c.id JOIN product p ON p.id = o.product_id
  GROUP BY c.name ORDER BY amount DESC;

-- A long value: the table shows its start and its full length; CSV and JSON carry it whole.
SELECT id, length(note) AS chars, note FROM orders WHERE id = 102;

-- What the catalog says.
.tables
.describe orders

-- A scrolling read: a cursor opened for update, moved forward, to the end, back, and to row 4.
.open SELECT id, customer_id, quantity, note FROM orders ORDER BY id
.next
.last
.prior
.goto 4
-- A positioned update of the row the cursor stands on.
.update quantity = 7, note = 'changed through the cursor'
.close
SELECT id, quantity, note FROM orders WHERE id = 103;

-- The procedure's parameters as a stored-procedure component finds them, and the call it makes.
.proc customer_report
-- The procedure: the message it sends as it runs, both of its result sets, then its output.
CALL customer_report(1, ?);
-- A procedure without result sets gives its output parameters back.
CALL order_total(1, ?, ?);

-- The access plan of a query.
.explain SELECT o.id FROM orders o JOIN customer c ON c.id = o.customer_id WHERE c.city = 'Basel'
