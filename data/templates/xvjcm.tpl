; JC master file (conversion type JCM). One format per kind of line; the columns of a line are
; the format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 job, 2 extra, 3 phase (cost code), 4 category; 1N to 4N the notes of each kind of
; record; 1U a user-defined field of a job; 5 a draw, which this conversion does not take (its
; lines go to the reject file).
;
; Columns a template names are taken as given, even when empty: a phase's "Accumulate as"
; (PCTYPE) column is left out because categories are used, and a category's (CCTYPE) because
; its standard category gives it. Add them for a company whose settings need them.
;
; Jobs and phases may be written with or without their separators (100-001 or 100001,
; 01-002.03 or 0100203). Amounts are written with two decimals, units with up to four.
; Totals that the program keeps (estimates, costs) are cleared on conversion: write them as 0
; or leave them empty. Billings to date (work billed, retention held, paid) are kept for a job
; billed at job level and its extras, and give it a balance-forward draw.

; Job.
format 1
file JCM 1
record 1
permissions 2
field JOB
field JDESC
field JADDR1
field JCITY
field JSTATE
field JZIP
field JSTATUS
field JESTSD
field JORDER1
field JEXTRAS
field JARCUST
field JBMETH
field JBLEVEL
field JPRBANK
field JHOLD
field JCERT
field JLTXGRP
field JCAGRP
field JCSTACC
field JCNT
field JPCNTC
field JOCNT
field JACNTC
field JRVCNT
field JOEST
field JJTDC
field JJTDWB
field JJTDRH
field JJTDPY
special "Converted Notes" longtext

; Extra of a job.
format 2
file JCM 1
record 2
permissions 2
field XJOB
field EXTRA
field XDESC
field XSTATUS
field XESTSD
field XCNT
field XOCNT
field XRVCNT
field XOEST
field XJTDWB
field XJTDRH
field XJTDPY
special "Converted Notes" longtext

; Phase (cost code) of a job or of one of its extras.
format 3
file JCM 1
record 3
permissions 2
field PJOB
field PEXTRA
field PHASE
field PDESC
field PUDESC
field PCSTACC
field PTAXEX
field PSNDBL
field PPUDESC
field POSV
field PASVC
field PRSVC
field POEST
field PAESTC
field PTEST
field POPU
field PAPUC
field PRVPU
field PJTDCT
field PJTDC
special "Converted Notes" longtext

; Category of a phase.
format 4
file JCM 1
record 4
permissions 2
field CJOB
field CEXTRA
field CPHASE
field CAT
field CDESC
field CUDESC
field CCSTACC
field CTAXEX
field COEST
field CAESTC
field CTEST
field COUEST
field CAUESTC
field CTUEST
field CJTDCT
special "Converted Notes" longtext

; Notes of a job, extra, phase or category already converted (or on an earlier line).
format 1N
file JCM 1
record 1
notes
field JOB
special "Converted Notes" longtext

format 2N
file JCM 1
record 2
notes
field XJOB
field EXTRA
special "Converted Notes" longtext

format 3N
file JCM 1
record 3
notes
field PJOB
field PEXTRA
field PHASE
special "Converted Notes" longtext

format 4N
file JCM 1
record 4
notes
field CJOB
field CEXTRA
field CPHASE
field CAT
special "Converted Notes" longtext

; A user-defined field of a job already converted (or on an earlier line).
format 1U
file JCM 1
record 1
userfields 21
field JOB
special "cust fld name" text
special "cust fld value" text

; A draw: drawn by the JC totals step, never from a text file.
format 5
file JCM 1
record 5
permissions 2
field RJOB
field REXTRA
field RDRAW
field RDESC
