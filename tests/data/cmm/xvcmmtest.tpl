; Formats of the CM bank-account tests (with the shipped template's BN notes format).
;
; P: cash accounts named one by one, no AP or PM kind, no BINTCMP (a BCASH special that no
;    filling step reads).
format P
file CMM 1
record 1
permissions 2
field BANKACC
field BAPCSHB id 9 section 7
field BAPCSHF
field BPMCSHB id 9 section 7
field BPMCSHF
field BPRCASH
field BRCCASH
field BGENCSH
field BAPFORM
field BAPMAX
field BPRFORM
field BPRMAX
field BRECBAL
field BRGBLNC
field BPSBLNC
field BLYINT
special BCASH text

; PB: the AP base account alone.
format PB
file CMM 1
record 1
permissions 2
field BANKACC
field BAPCSHB id 9 section 7

; PM: P with the PM kind named (and the AP kind not).
format PM
file CMM 1
record 1
permissions 2
field BANKACC
field BPMCABF
field BPMCSHB id 9 section 7
field BPMCSHF

; F: filled through the special values.
format F
file CMM 1
record 1
permissions 2
field BANKACC
special BINTCMP number
special BCASH text
field BPRCASH
field BRCCASH
special BLSTCHK number
special BLSTCDT date
special BLSTCA number
special BPLSTC number
special BPLSTCD date
special BPLSTCA number
special BLSTDA number
special BLSTDDT date

; FA: F with the AP kind named, which turns the filling step off.
format FA
file CMM 1
record 1
permissions 2
field BANKACC
field BAPCABF
special BINTCMP number
special BCASH text
field BPRCASH

; FR: F changing a bank on file.
format FR
file CMM 1
record 1
permissions 1
field BANKACC
special BINTCMP number
special BCASH text
special BLSTCHK number

; D: the reconciled date and the setup assistant's status.
format D
file CMM 1
record 1
permissions 2
field BANKACC
field BRECDT
field BSASTAT

; L: the last-numbers record, which no line converts.
format L
file CMM 1
record 5
permissions 2
field LTBNKAC

; V: the AP use flag named.
format V
file CMM 1
record 1
permissions 2
field BANKACC
field BAPVALD

format BN
file CMM 1
record 1
permissions 2
field BANKACC
special "Converted Notes" longtext
