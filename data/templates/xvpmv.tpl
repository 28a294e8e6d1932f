; PM recovery file (conversion type PMV). One format per kind of line; the columns of a line are
; the format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 property recovery control, 2 property expense-category control, 3 a recovery record
; no conversion takes (refused), 4 recovery control of a lease's recurring charge, 5 lease
; expense-category control, 6 recovery concession period; 1N and 4N the notes of records 1 and
; 4; 9 a line of no PM recovery record (refused, so that it goes to the reject file).
;
; Dates are month/day/year. Amounts are written with their decimals (1500.00); percents with up
; to six decimals. Choices take their number or their text; logical fields 1/0 or Y/N.

; Property recovery control: every field, then notes kept with the record.
format 1
file PMV 1
record 1
permissions 2
field PRCPROP
field PRCCT
field PRCFREQ
field PRCAMOP
field PRCREC
field PRCRBCM
field PRCRCM
field PRCRACT
field PRCRSPC
field PRCRINV
field PRCESC
field PRCEM
field PRCEBT
field PRCEBCM
field PRCECM
field PRCEPCT
field PRCERET
field PRCERC
field PRCFEE
field PRCFM
field PRCFBT
field PRCFBCM
field PRCFCM
field PRCFPCT
field PRCFCT
field PRCB1
field PRCB2
field PRCB3
field PRCB4
field PRCB5
field PRCB6
field PRCB7
field PRCB8
field PRCB9
field PRCB10
field PRCBSF
field PRCSM
field PRCSSF
field PRCSA
field PRCSF
field PRCCM
field PRCCSF
field PRCCA
field PRCCF
field PRCOSF
special "Converted Notes" longtext

; Property expense-category control: every field, then notes kept with the record.
format 2
file PMV 1
record 2
permissions 2
field PECPROP
field PECCT
field PECEC
field PECFROM
field PECTO
field PECUSF
field PECPSF
special "Converted Notes" longtext

; Recovery expense history (no conversion takes it): every field, then notes kept with the record.
format 3
file PMV 1
record 3
permissions 2
field RHPROP
field RHCT
special "Converted Notes" longtext

; Recovery control of a lease recurring charge: every field, then notes kept with the record.
format 4
file PMV 1
record 4
permissions 2
field RCLEASE
field RCREV
field RCCT
field RCUNIT
field RCFREQ
field RCNFD
field RCNTD
field RCCFD
field RCCTD
field RCEFD
field RCETD
field RCREC
field RCRBCM
field RCRCM
field RCRACT
field RCRSPC
field RCRINV
field RCESC
field RCECHGT
field RCECHGU
field RCEMTHD
field RCEBUDG
field RCEBCM
field RCECM
field RCEPI
field RCERET
field RCECT
field RCECU
field RCFEE
field RCFMETH
field RCFBUD
field RCFBCM
field RCFCM
field RCFP
field RCFCT
field RCCASTP
field RCCACAP
field RCPRAS
field RCPRAC
field RCSTOP
field RCSSF
field RCSAMT
field RCSF
field RCSFROM
field RCSTO
field RCASTOP
field RCCAP
field RCCSF
field RCCAMT
field RCCF
field RCCFROM
field RCCTO
field RCACAP
field RCPOCCP
field RCOSF
field RCLRS
field RCLES
field RCLFS
field RCRR1
field RCRR2
field RCRR3
field RCRR4
field RCRR5
field RCRR6
field RCRR7
field RCRR8
field RCRR9
field RCRR10
field RCRR11
field RCRR12
field RCRR13
field RCRR14
field RCRR15
field RCRR16
field RCRR17
field RCRR18
field RCRR19
field RCRR20
field RCRR21
field RCRR22
field RCRR23
field RCRR24
field RCRR25
field RCRR26
field RCRR27
field RCRR28
field RCRR29
field RCRR30
field RCFR1
field RCFR2
field RCFR3
field RCFR4
field RCFR5
field RCFR6
field RCFR7
field RCFR8
field RCFR9
field RCFR10
field RCFR11
field RCFR12
field RCFR13
field RCFR14
field RCFR15
field RCFR16
field RCFR17
field RCFR18
field RCFR19
field RCFR20
field RCFR21
field RCFR22
field RCFR23
field RCFR24
field RCFR25
field RCFR26
field RCFR27
field RCFR28
field RCFR29
field RCFR30
field RCPAE
field RCPEB
field RCPAB
field RCAWO
special "Converted Notes" longtext

; Lease expense-category control: every field, then notes kept with the record.
format 5
file PMV 1
record 5
permissions 2
field ECLEASE
field ECREV
field ECCT
field ECUNIT
field ECEC
field ECFEE
field ECUSF
field ECPSF
field ECMP
field ECPAE
field ECPEB
field ECPAB
field ECLRS
field ECLES
field ECLFS
special "Converted Notes" longtext

; Recovery concession period: every field, then notes kept with the record.
format 6
file PMV 1
record 6
permissions 2
field CPLEASE
field CPREV
field CPCT
field CPUNIT
field CPFROM
field CPTO
special "Converted Notes" longtext

; Notes of a property recovery control already converted (or on an earlier line).
format 1N
file PMV 1
record 1
notes
field PRCPROP
field PRCCT
special "Converted Notes" longtext

; Notes of a recovery control of a lease recurring charge already converted (or on an earlier line).
format 4N
file PMV 1
record 4
notes
field RCLEASE
field RCREV
field RCCT
field RCUNIT
special "Converted Notes" longtext

; A line that no PM recovery record takes.
format 9
file PMV 1
record 0
data
special TEXT text
