; PM issues (conversion type PMZ). One format per kind of line; the columns of a line are the
; format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 an issue, 1N the notes of an issue, 1U a user-defined field of an issue (refused:
; the conversion carries no custom fields).
;
; ISSUE is the issue's number in this text file only: Convert gives every issue the next free
; number of the issues file, and notes lines that follow an issue go to its new number. Name
; the property (PMPROP), unit (PMUNIT, with its property), tenant (PMTENAN) and lease (PMLEASE
; with its revision PMREV) the issue concerns; each gets a link. NOPROP set to YES on an issue
; with a property and a unit links it to the unit alone. The fields from R1ODBC to PRTSEQ other
; than the PM ones are not carried: a value there is cleared with a warning.

; An issue: every field, then notes kept with it and NOPROP.
format 1
file TLI 0
record 1
permissions 2
field ISSUE
field FORMESS
field CLASSIF
field URGENCY
field FOLLOWU
field STATUS
field PROBLEM
field R1ODBC
field ASSIGN
field OPENDT
field PMPROP
field PMUNIT
field PMTENAN
field PMREV
field PMLEASE
field CLOSED
field NOTIFY
field COST
field PRIORTY
field SOURCE
field CHANNEL
field PRTSEQ
special "Converted Notes" longtext
special NOPROP logical

; Notes of an issue on an earlier line.
format 1N
file TLI 0
record 1
notes
field ISSUE
special "Converted Notes" longtext

; A user-defined field of an issue.
format 1U
file TLI 0
record 1
userfields 30
field ISSUE
special "cust fld name" text
special "cust fld value" text
