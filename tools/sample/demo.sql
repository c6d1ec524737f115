-- The sample database "demo", schema dbo. scripts/make-demo-db turns this file into
-- demo.sqlite; demo.sales.sql beside it becomes demo.sales.sqlite, the schema "sales".
--
-- Column types are SQL Server type names: the test server sends each column as that type.
-- SQLite cannot parse "(max)", so those columns spell their type in brackets: [nvarchar(max)].

CREATE TABLE Customers (
    CustomerID int,
    Name nvarchar(100),
    City nvarchar(60),
    Email varchar(120),
    Since date,
    Active bit,
    Notes [nvarchar(max)]
);
INSERT INTO Customers VALUES
    (1, 'Alfreds Futterkiste', 'Berlin', 'alfreds@example.com', '2019-03-01', 1, 'First customer'),
    (2, 'Smith, Jones & Partners', 'London', 'office@smith-jones.example', '2020-11-15', 1,
        'Name holds a comma and an ampersand'),
    (3, 'O''Brien "The Shop"', 'Dublin', NULL, '2021-06-30', 0, 'Quotes, single and double'),
    (4, 'Multi-line Ltd', 'Leeds', 'hello@multiline.example', '2022-01-10', 1,
        'First line' || char(13) || char(10) || 'Second line'),
    (5, '<Angle> & Brackets', 'Bristol', 'lt@example.com', NULL, 1, 'if a < b && c > d'),
    (6, 'Ærøskøbing Fisk', 'Ærøskøbing', 'fisk@example.dk', '2018-07-04', 1, 'Dansk: æøå ÆØÅ'),
    (7, '東京商事', '東京', 'info@example.jp', '2023-09-09', 1, '日本語のメモ'),
    (8, 'Müller GmbH', 'Zürich', NULL, NULL, NULL, NULL),
    (9, 'Ελληνικά Α.Ε.', 'Αθήνα', 'info@example.gr', '2017-05-05', 0, 'Greek text'),
    (10, 'Emoji Shop 😀', 'Paris', 'smile@example.fr', '2024-02-29', 1, 'Outside the BMP: 😀🎉');

CREATE TABLE Products (
    ProductID int,
    Name nvarchar(80),
    Price money,
    Weight decimal(8,3),
    Rating real,
    Added datetime,
    Code uniqueidentifier,
    Sku char(8),
    Photo varbinary(64),
    Description [nvarchar(max)]
);
INSERT INTO Products VALUES
    (1, 'Chai', 18.00, 0.500, 4.5, '2020-01-01 09:00:00', '6F9619FF-8B86-D011-B42D-00C04FC964FF',
        'CHAI-01', X'CAFE', 'Tea, black, 20 bags'),
    (2, 'Chang', 19.25, 1.250, 3.75, '2020-02-15 14:30:15.123', 'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11',
        'CHNG', NULL, 'Beer "lager", 24 × 355 ml'),
    (3, 'Aniseed Syrup', 10.5, 0.750, NULL, '2021-07-07 07:07:07', NULL, 'SYRP-3', X'00FF10',
        '<syrup> & more'),
    (4, 'Crème brûlée', 7.99, 0.125, 5.0, NULL, 'F47AC10B-58CC-4372-A567-0E02B2C3D479', NULL, NULL,
        NULL);

CREATE TABLE Orders (
    OrderID INTEGER PRIMARY KEY AUTOINCREMENT,
    CustomerID int,
    OrderDate datetime2,
    Shipped smalldatetime,
    Total decimal(12,2),
    Quantity smallint,
    Priority tinyint,
    Reference bigint,
    Discount float
);
INSERT INTO Orders (CustomerID, OrderDate, Shipped, Total, Quantity, Priority, Reference, Discount)
VALUES
    (1, '2024-01-05 10:15:30.1234567', '2024-01-06 08:00', 123.45, 3, 1, 9000000000001, 0.05),
    (2, '2024-01-06 11:00:00', NULL, 1999.99, 40, 2, 9000000000002, 0),
    (3, '2024-02-10 16:45:00.5', '2024-02-12 09:30', 0.01, 1, 255, -1, NULL),
    (7, '2024-03-01 00:00:00', '2024-03-02 00:00', 15000.00, 1200, 0, NULL, 0.125);

CREATE TABLE "Order Details" (
    OrderID int,
    ProductID int,
    UnitPrice money,
    Quantity smallint
);
INSERT INTO "Order Details" VALUES (1, 1, 18.00, 2), (1, 2, 19.25, 1), (2, 4, 7.99, 40),
    (3, 3, 10.50, 1);

CREATE TABLE "Prices]2024" (
    ProductID int,
    Price money,
    ValidFrom date
);
INSERT INTO "Prices]2024" VALUES (1, 18.50, '2024-01-01'), (2, 19.75, '2024-01-01');

-- The types with wire types of their own: a sql_variant value is an int, float, nvarchar or
-- varbinary as SQLite stores it, or any other type written CAST(<literal> AS <type>).
CREATE TABLE Documents (
    DocumentID int,
    Received datetimeoffset(3),
    Body xml,
    Scan image,
    Summary text,
    Translation ntext,
    Tag sql_variant
);
INSERT INTO Documents VALUES
    (1, '2024-02-29 13:45:07.123 +01:00', '<note lang="en">Hello &amp; welcome</note>',
        X'89504E470D0A1A0A', 'Plain text in code page 1252: café', 'Unicode: 東京 😀', 42),
    (2, '2023-12-31 23:59:59.999 -05:30', '<note/>', NULL, NULL, 'Ελληνικά',
        'CAST(''2024-01-02 03:04:05.997'' AS datetime)'),
    (3, NULL, NULL, X'', '', '', 'CAST(''12.50'' AS decimal(10,2))'),
    (4, '0001-01-01 00:00:00 +00:00', '<empty></empty>', X'00', 'x', NULL, 'a tag');

-- Kept empty on purpose.
CREATE TABLE Archive (
    ArchiveID int,
    Payload [varbinary(max)],
    Stored datetime2(3)
);

-- SQL Server's diagram table, present in many real databases.
CREATE TABLE sysdiagrams (
    name nvarchar(128),
    principal_id int,
    diagram_id int,
    version int,
    definition [varbinary(max)]
);

-- Ten thousand rows, for progress bars and timing.
CREATE TABLE Measurements (
    MeasurementID int,
    Sensor nvarchar(20),
    Taken datetime2(0),
    Reading float,
    Valid bit
);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)
INSERT INTO Measurements
SELECT i,
       'sensor-' || (i % 7),
       datetime('2024-01-01 00:00:00', '+' || (i * 60) || ' seconds'),
       round((i % 1000) / 7.0, 4),
       i % 13 <> 0
FROM n;

CREATE VIEW CustomerOrders AS
SELECT o.OrderID, c.Name, o.OrderDate, o.Total
FROM Orders o JOIN Customers c ON c.CustomerID = o.CustomerID;
