; PM lease, tenant and system file (conversion type PML). One format per kind of line; the
; columns of a line are the format's field and special lines, in order. Every line must have all
; its format's columns (leave a column empty to keep the default).
;
; PM lease file: 1 lease, 3 lease deposit, 4 lease modification, 5 lease option, 7 checklist item,
; 8 insurance, 10 charge control, 11 late charge, 13 recurring charge, 15 recurring-charge log,
; 18 index escalation control (13N and 15N without a frequency). PM tenant file: T1 tenant (T1B
; without a tax name), T3 tenant address, T5 tenant lease.
; PM system file: S3 corporation, S5 calculation method, S6 CPI index, S7 Porter wage index,
; S8 SIC code. 1N and T1N the notes of a lease and of a tenant. P1 a PM property record and X a
; line of no record: this conversion refuses both, so that they go to the reject file.
;
; Dates are month/day/year. Amounts are written with their decimals (1500.00). Choices take their
; number or their text.

; PM Lease file: lease, every field.
format 1
file PML 1
record 1
permissions 2
field LEASE
field LREV
field LPROP
field LUNIT
field LTENANT
field LSTATUS
field LBTERM
field LPHASE
field LNDATE
field LTERMR
field LBAL
field LSTART
field LTERM
field LACTST
field LBFBILL
field LSTTYPE
field LINTT
field LREFT
field LINTTA
field LREFTA
field LPEDATE
field LCORP
field LSIC
field LBUSCAT
field LLRCMB
special "Converted Notes" longtext

; PM Lease file: lease deposit, every field.
format 3
file PML 1
record 3
permissions 2
field LDLEASE
field LDREV
field LDDTYPE
field LDUNIT
field LDREF
field LDLTCRD
field LDINTRT
field LDINTBS
field LDCOMP
field LDPAYTM
field LDINTBL
field LDAMTLC
field LDBNKLC
field LDSTACC
field LDACCTH
field LDBAL

; PM Lease file: lease modification, every field.
format 4
file PML 1
record 4
permissions 2
field LMLEASE
field LMREV
field LMDATE
field LMNLS
field LMNREV
field LMOLCMB
field LMNLCMB

; PM Lease file: lease option, every field.
format 5
file PML 1
record 5
permissions 2
field LOLEASE
field LOREV
field LOSEQ
field LODESC
field LOCAT
field LOPROP
field LOUNIT

; PM Lease file: lease checklist item, every field.
format 7
file PML 1
record 7
permissions 2
field LPLEASE
field LPREV
field LPPRTYP
field LPNUM
field LPTEXT

; PM Lease file: lease insurance, every field.
format 8
file PML 1
record 8
permissions 2
field LILEASE
field LIREV
field LISEQ
field LINSTYP

; PM Lease file: charge control, every field.
format 10
file PML 1
record 10
permissions 2
field LCLEASE
field LCREV
field LCCT
field LCPMTOR
field LCGLPFX id 9 section 6
field LCBTTEN
field LCBTADD

; PM Lease file: lease late charge, every field.
format 11
file PML 1
record 11
permissions 2
field LLLEASE
field LLREV
field LLDESC
field LLACT1
field LLCALC1
field LLFREQ1
field LLFRQD1
field LLREP1
field LLSTF1
field LLCGCL1
field LLAMT1
field LLPCT1
field LLINRT1
field LLFRML1
field LLGDPC1
field LLGDF1
field LLGCDY1
field LLINT1
field LLMAXD1
field LLACT2
field LLCALC2
field LLFREQ2
field LLFRQD2
field LLREP2
field LLSTF2
field LLCGCL2
field LLAMT2
field LLPCT2
field LLINRT2
field LLFRML2
field LLGDPC2
field LLGDF2
field LLGCDY2
field LLINT2
field LLMAXD2
field LLACT3
field LLCALC3
field LLFREQ3
field LLFRQD3
field LLREP3
field LLSTF3
field LLCGCL3
field LLAMT3
field LLPCT3
field LLINRT3
field LLFRML3
field LLGDPC3
field LLGDF3
field LLGCDY3
field LLINT3
field LLMAXD3

; PM Lease file: recurring charge, every field.
format 13
file PML 1
record 13
permissions 2
field RCLEASE
field RCREV
field RCCT
field RCUNIT
field RCPROP
field RCSQFT
field RCFREQ
field RCDMND
field RCAMTT
field RCFORM
field RCAFDEP
field RCNDATE
field RCLSDT
field RCTDATE
field RCADESC

; PM Lease file: recurring charge log, every field.
format 15
file PML 1
record 15
permissions 2
field RCLLEAS
field RCLREV
field RCLCT
field RCLUNIT
field RCLEFDT
field RCLFREQ
field RCLAMT

; PM Lease file: a recurring charge without its frequency (one-time charges are refused).
format 13N
file PML 1
record 13
permissions 2
field RCLEASE
field RCREV
field RCCT
field RCUNIT
field RCSQFT
field RCAMTT
field RCNDATE

; PM Lease file: a recurring-charge log without its frequency (refused as well).
format 15N
file PML 1
record 15
permissions 2
field RCLLEAS
field RCLREV
field RCLCT
field RCLUNIT
field RCLEFDT
field RCLAMT

; PM Lease file: index escalation control, every field.
format 18
file PML 1
record 18
permissions 2
field IELEASE
field IEREV
field IECT
field IECU
field IEBYC
field IEABC1
field IEABU1
field IEABA1
field IEABC2
field IEABU2
field IEABA2
field IEABC3
field IEABU3
field IEABA3
field IEABC4
field IEABU4
field IEABA4
field IEABC5
field IEABU5
field IEABA5
field IEABC6
field IEABU6
field IEABA6
field IEABC7
field IEABU7
field IEABA7
field IEABC8
field IEABU8
field IEABA8
field IEABC9
field IEABU9
field IEABA9
field IEABC10
field IEABU10
field IEABA10
field IEAVG
field IEIT
field IECALC1
field IECALC2
field IEIND1
field IEIND2
field IEPRVI
field IECID
field IEPID
field IENAD
field IEFREQ
field IEBYID
field IEBY
field IEBYI
field IEBYIV
field IEBYB
field IERETRO
field IERCT
field IERU
field IEWRM
field IEPPF
field IELF
field IEFP
field IECA
field IESA
field IECP
field IESP
field IELC
field IEAC
field IERETPD
field IEDSTPD
field IERCHGA
field IEDAMT
field IEI1R1
field IEI1R2
field IEI1R3
field IEI1R4
field IEI1R5
field IEI1R6
field IEI1R7
field IEI1R8
field IEI1R9
field IEI1R10
field IEI1R11
field IEI1R12
field IEI1R13
field IEI1R14
field IEI1R15
field IEI1R16
field IEI1R17
field IEI1R18
field IEI1R19
field IEI1R20
field IEI1R21
field IEI1R22
field IEI1R23
field IEI1R24
field IEI1R25
field IEI1R26
field IEI1R27
field IEI1R28
field IEI1R29
field IEI1R30
field IEI2R1
field IEI2R2
field IEI2R3
field IEI2R4
field IEI2R5
field IEI2R6
field IEI2R7
field IEI2R8
field IEI2R9
field IEI2R10
field IEI2R11
field IEI2R12
field IEI2R13
field IEI2R14
field IEI2R15
field IEI2R16
field IEI2R17
field IEI2R18
field IEI2R19
field IEI2R20
field IEI2R21
field IEI2R22
field IEI2R23
field IEI2R24
field IEI2R25
field IEI2R26
field IEI2R27
field IEI2R28
field IEI2R29
field IEI2R30
field IEFR

; PM Tenant file: tenant, every field.
format T1
file PMN 1
record 1
permissions 2
field TENANT
field TNAME
field TBAL
field TTAXNAM
special "Converted Notes" longtext

; PM Tenant file: a tenant without its tax name, which then takes the tenant's name.
format T1B
file PMN 1
record 1
permissions 2
field TENANT
field TNAME
field TBAL

; PM Tenant file: tenant address, every field.
format T3
file PMN 1
record 3
permissions 2
field TATEN
field TATYPE
field TADESC

; PM Tenant file: tenant lease, every field.
format T5
file PMN 1
record 5
permissions 2
field TENID
field TLEASE
field TLREV
field TDUM

; PM System file: corporation, every field.
format S3
file PMS 1
record 3
permissions 2
field CORPID
field CNAME

; PM System file: calculation method, every field.
format S5
file PMS 1
record 5
permissions 2
field CMID
field CMDESC
field CMTYPE
field CMINVD

; PM System file: cpi index, every field.
format S6
file PMS 1
record 6
permissions 2
field CPIID
field CPIDATE
field CPIVAL

; PM System file: porter's wage index, every field.
format S7
file PMS 1
record 7
permissions 2
field PWID
field PWDATE
field PWRATE

; PM System file: sic code, every field.
format S8
file PMS 1
record 8
permissions 2
field SICCODE
field SICDESC

; Notes of a lease already converted (or on an earlier line).
format 1N
file PML 1
record 1
notes
field LEASE
field LREV
special "Converted Notes" longtext

; Notes of a tenant already converted (or on an earlier line).
format T1N
file PMN 1
record 1
notes
field TENANT
special "Converted Notes" longtext

; A PM property record: not part of this conversion.
format P1
file PMP 1
record 1
field PROP

; A line that no record of this conversion takes.
format X
file PML 1
record 0
data
special TEXT text
