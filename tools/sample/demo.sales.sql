-- The schema "sales" of the sample database "demo" (demo.sales.sqlite). Its Customers table has
-- the same name as dbo's and other columns.

CREATE TABLE Customers (
    CustomerID int,
    Region nvarchar(30),
    Quota money
);
INSERT INTO Customers VALUES (1, 'North', 100000), (2, 'South', 75000.5), (3, 'Overseas', NULL);
