-- The demonstration database: customers, the products they order, the orders themselves (one
-- of them with a long note), and a report procedure with two result sets and an output
-- parameter.
CREATE TABLE customer (
  id INTEGER NOT NULL PRIMARY KEY,
  name VARCHAR(40) NOT NULL,
  city VARCHAR(30)
);

CREATE TABLE product (
  id INTEGER NOT NULL PRIMARY KEY,
  title VARCHAR(40) NOT NULL,
  price DECIMAL(19,4) NOT NULL
);

CREATE TABLE orders (
  id INTEGER NOT NULL PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customer (id),
  product_id INTEGER NOT NULL REFERENCES product (id),
  quantity INTEGER NOT NULL,
  ordered DATE NOT NULL,
  note LONG VARCHAR
);

INSERT INTO customer VALUES (1, 'Ada Fischer', 'Bremen'), (2, 'Bruno Keller', 'Basel'),
  (3, 'Clara Novak', NULL), (4, 'Dario Conti', 'Torino');

INSERT INTO product VALUES (10, 'Fountain pen', 24.5), (11, 'Notebook A5', 3.2),
  (12, 'Desk lamp', 39.9), (13, 'Ink, blue', 4.75);

INSERT INTO orders VALUES
  (100, 1, 10, 1, '2026-01-12', 'gift wrap'),
  (101, 1, 11, 10, '2026-01-12', NULL),
  (102, 2, 12, 2, '2026-02-03', NULL),
  (103, 3, 13, 6, '2026-02-17', NULL),
  (104, 1, 13, 4, '2026-03-01', NULL),
  (105, 4, 10, 2, '2026-03-09', 'deliver to the office'),
  (106, 2, 11, 25, '2026-03-20', NULL),
  (107, 3, 12, 1, '2026-04-02', NULL);

-- A long value: 7 000 times ten characters, 70 000 in all.
UPDATE orders SET note = replace(hex(zeroblob(7000)), '00', 'work, play') WHERE id = 102;

CREATE PROCEDURE customer_report (IN cust INTEGER, OUT total DECIMAL(19,4))
BEGIN
  MESSAGE 'report for customer ', cust TO CLIENT;
  -- first result set: the customer's orders
  SELECT o.id, p.title, o.quantity, o.ordered
    FROM orders o JOIN product p ON p.id = o.product_id
    WHERE o.customer_id = cust ORDER BY o.id;
  -- second result set: what the orders come to, by product
  SELECT p.title, sum(o.quantity) AS pieces, sum(o.quantity * p.price) AS amount
    FROM orders o JOIN product p ON p.id = o.product_id
    WHERE o.customer_id = cust GROUP BY p.title ORDER BY p.title;
  SELECT sum(o.quantity * p.price) INTO total
    FROM orders o JOIN product p ON p.id = o.product_id
    WHERE o.customer_id = cust;
END;

-- Output parameters alone: what a customer's orders come to, and how many there are.
CREATE PROCEDURE order_total (IN cust INTEGER, OUT total DECIMAL(19,4), OUT lines INTEGER)
BEGIN
  SELECT sum(o.quantity * p.price), count(*) INTO total, lines
    FROM orders o JOIN product p ON p.id = o.product_id
    WHERE o.customer_id = cust;
END;

COMMIT;
