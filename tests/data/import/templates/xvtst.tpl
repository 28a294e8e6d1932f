; Customers of the import test file, with their notes and user-defined fields.
version "ALLOW TOTALS"

format C
  file TST 1
  record 1
  permissions 2
  field CUSTID
  field CNAME
  field CBAL
  field CSINCE
  field CTYPE
  field CACCT
  special "Converted Notes" longtext

format CN
  file TST 1
  record 1
  notes
  field CUSTID
  special NOTE1 text
  special NOTE2 text

format CU
  file TST 1
  record 1
  userfields 11
  field CUSTID
  special "cust fld name" text
  special "cust fld value" text
