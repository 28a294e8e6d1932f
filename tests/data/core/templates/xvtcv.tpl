# Template of the converter-core tests.
format 1
file TCV 1
record 1
permissions 2
field CODE id 5
field ALTKEY
field NAME
field AMOUNT
special "Converted Notes" longtext

# Changes to items already on file (or created by an earlier line).
format 1M
file TCV 1
record 1
permissions 1
field CODE
field NAME

# Items replaced when on file, added otherwise.
format 1R
file TCV 1
record 1
permissions 3
field CODE
field NAME

format 1U
file TCV 1
record 1
userfields 2
field CODE
special "cust fld name" text
special "cust fld value" text

format 1G
file TCV 1
record 1
userfields 49
field CODE
special "cust fld name" text
special "cust fld value" text

format 1N
file TCV 1
record 1
notes
field CODE
special NOTE1 longtext
special NOTE2 longtext

format 3
file TCV 1
record 3
field TCODE
field TNAME

format 1T
file TCV 1
record 1
userfields 13
field CODE
special "cust fld name" text
special "cust fld value" text
