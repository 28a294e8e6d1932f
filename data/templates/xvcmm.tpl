; CM bank accounts (conversion type CMM). One format per kind of line; the columns of a line are
; the format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 a bank account whose cash accounts are filled from one cash account (BCASH) and the
; payroll and receivables cash accounts, with its last AP and PR checks and its last deposit;
; 1A a bank account that names each application's cash accounts itself, full and base; BN the
; notes of a bank account already converted (or on an earlier line).
;
; Account values may be written with or without their separators (01-1-10-1000-00 or
; 0111010000). Balances, outstanding amounts, interest, the last reconciled date (format 1A) and
; the setup assistant's status (no format) are the CM module's own to build: they are read and
; reported, never converted. Amounts are written in dollars and cents (1523.40).

; Bank account, filled through special values. BINTCMP 1 makes BCASH the AP cash account as a
; full account; any other value, with a prefixed GL account, as a base account.
format 1
file CMM 1
record 1
permissions 2
field BANKACC
special BINTCMP number
special BCASH text
field BPRCASH
field BRCCASH
field BAPFORM
field BAPMAX
field BPRFORM
field BPRMAX
special BLSTCHK number
special BLSTCDT date
special BLSTCA number
special BPLSTC number
special BPLSTCD date
special BPLSTCA number
special BLSTDA number
special BLSTDDT date
field BRGBLNC
field BBKBLNC
field BPSBLNC
field BRECBAL
field BOPNCHK
field BOPNDEP
field BYTDINT
field BLYINT
special "Converted Notes" longtext

; Bank account with every cash account named: BAPCABF and BPMCABF say which of the full (F) and
; base (B) accounts AP and PM use (1 full, 2 base).
format 1A
file CMM 1
record 1
permissions 2
field BANKACC
field BAPCABF
field BAPCSHF
field BAPCSHB id 9 section 7
field BPMCABF
field BPMCSHF
field BPMCSHB id 9 section 7
field BPRCASH
field BRCCASH
field BGENCSH
field BAPFORM
field BAPMAX
field BPRFORM
field BPRMAX
field BRGBLNC
field BBKBLNC
field BPSBLNC
field BRECBAL
field BOPNCHK
field BOPNDEP
field BYTDINT
field BLYINT
field BRECDT
special "Converted Notes" longtext

; Notes of a bank account.
format BN
file CMM 1
record 1
permissions 2
field BANKACC
special "Converted Notes" longtext
