; PM property and system files (conversion type PMP): PM system records (charge types, interest
; rates, managers/brokers) and PM property records (properties, PA records, charges, deposits,
; SF types, occupancy, late charges, checklist items, taxes, insurance, units, unit SF types,
; lease units, misc income sources, unit lease and occupancy history). One format per kind of
; line; the columns of a line are the format's field and special lines, in order. Every line
; must have all its format's columns (leave a column empty to keep the default).
;
; Formats: S1, S2, S4 the PM system records; 1, 3, 5-13, 15, 17, 19, 20, 21, 25, 26 the PM
; property records of that number; 1N the notes of a property; 1U, 13U and 17U user-defined
; fields of a property, a property tax and a unit; G1 a GL account line and 0 a line of no
; record (both refused, so that they go to the reject file).
;
; A property's "PM Cash Account" column gives its bank the PM cash account it lacks (a bank not
; yet on file is created with it); it is not used when the bank has one.
;
; GL prefixes and base accounts are written as such (01-1-10, 4000-00), whole accounts in full.
; Put the system records and the properties before the records that refer to them. Dates are
; month/day/year. Amounts are written with their decimals (12.50); percents and rates with up to
; six decimals. Choices take their number or their text; yes/no fields Y or N.

; Charge type.
format S1
file PMS 1
record 1
permissions 2
field CT
field CTCDESC
field CTPDESC
field CTSMCT
field CTCREF
field CTPREF
field CTGLPRE id 9 section 7
field CTGLREV id 9 section 7
field CTGLREC id 9 section 7

; Interest rate.
format S2
file PMS 1
record 2
permissions 2
field VALID
field VALDATE
field VALUE

; Manager/broker: the accounts and defaults after the name are not converted.
format S4
file PMS 1
record 4
permissions 2
field MBID
field MBNAME
field MBGLD
field MBGLC
field MBRATE
field MBVND
field MBAPB

; Property, then notes kept with the record.
format 1
file PMP 1
record 1
permissions 2
field PROP
field PNAME
field PLEGAL
field PTYPE
field PGLPFX id 9 section 6
field POPBANK
field PPEREND
field PFYEND
field PMGR
field PSUMVND
field PPAYTYP
field PPAYDAY
field PSFTYPE
field PUNIT
field POCOUNT
field PLCOUNT
field PTKCYOC
field PTKFYOC
field PTRAKVL
field PVLRNBS
field PVLPO
field PVLRND
field PVLACT id 9 section 7
field PGRPAT id 9 section 7
field PSLRADJ id 9 section 7
field PSLRUE id 9 section 7
field PRTCO
field PRTCM1
field PRTCSM
field PRTCM2
field PRTCF
field PFGRR
field PLSTRR
field PFGRRC
special "PM Cash Account" text
special "Converted Notes" longtext

; Property PA record.
format 3
file PMP 1
record 3
permissions 2
field PAPROP
field PATYPE
field PANAME

; Property charge: "<default>" names the property's default charge; a GL prefix left empty is
; the property's.
format 5
file PMP 1
record 5
permissions 2
field PCPROP
field PCCT id 415
field PCPMT
field PCTXGRP
field PCGLPFX id 9 section 6

; Property deposit.
format 7
file PMP 1
record 7
permissions 2
field PDPROP
field PDDTYPE
field PDBANK
field PDREF
field PDDLIAB id 9 section 7
field PDDREV id 9 section 7
field PDINTRT
field PDINTBS
field PDCOMP
field PDPAYTM
field PDIEXP id 9 section 7
field PDILIAB id 9 section 7

; Property SF type.
format 8
file PMP 1
record 8
permissions 2
field PFPROP
field PFSFTYP
field PFTRACK
field PFCOCC

; Monthly occupancy (the month as a date: its month and year count).
format 9
file PMP 1
record 9
permissions 2
field PMPROP
field PMSFTYP
field PMMYR
field PMOCC

; Calendar-year occupancy: a two-digit year is taken as 20xx below 50, 19xx from 50.
format 10
file PMP 1
record 10
permissions 2
field PCYPROP
field PCYSFT
field PCYYEAR
field PCYOCC

; Fiscal-year occupancy: the date is the last day of the fiscal year.
format 11
file PMP 1
record 11
permissions 2
field PFYPROP
field PFYSFT
field PFYFYE
field PFYOCC

; Property tax: a two-digit year is taken as 20xx below 50, 19xx from 50.
format 13
file PMP 1
record 13
permissions 2
field PTPROP
field PTTXID
field PTYEAR

; Property insurance: a sequence number left empty (or 0) takes the next free one.
format 15
file PMP 1
record 15
permissions 2
field PIPROP
field PISEQ
field PIINSTY

; Late charge: the property, the description, then the three steps field for field.
format 6
file PMP 1
record 6
permissions 2
field PLPROP
field PLDESC
field PLACT1
field PLCALC1
field PLFREQ1
field PLFRQD1
field PLREP1
field PLSTF1
field PLCGCL1
field PLAMT1
field PLPCT1
field PLINRT1
field PLFRML1
field PLGDPC1
field PLGDF1
field PLGCDY1
field PLINT1
field PLMAXD1
field PLACT2
field PLCALC2
field PLFREQ2
field PLFRQD2
field PLREP2
field PLSTF2
field PLCGCL2
field PLAMT2
field PLPCT2
field PLINRT2
field PLFRML2
field PLGDPC2
field PLGDF2
field PLGCDY2
field PLINT2
field PLMAXD2
field PLACT3
field PLCALC3
field PLFREQ3
field PLFRQD3
field PLREP3
field PLSTF3
field PLCGCL3
field PLAMT3
field PLPCT3
field PLINRT3
field PLFRML3
field PLGDPC3
field PLGDF3
field PLGCDY3
field PLINT3
field PLMAXD3

; Checklist item: a sequence number left empty (or 0) takes the next free one.
format 12
file PMP 1
record 12
permissions 2
field PPPROP
field PPTYPE
field PPNUM
field PPTEXT

; Unit, then notes kept with the record.
format 17
file PMP 1
record 17
permissions 2
field UPROP
field UNIT
field UCLASS
field UOCC
field ULESED
field UCURLES
field UCURREV
field UCURTEN
special "Converted Notes" longtext

; Unit SF type.
format 19
file PMP 1
record 19
permissions 2
field UFPROP
field UFUNIT
field UFSFTYP
field UFDATE
field UFSQFT

; Lease unit.
format 20
file PMP 1
record 20
permissions 2
field LUPROP
field LUUNIT
field LULEASE
field LUREV
field LUDUMMY

; Misc income source.
format 21
file PMP 1
record 21
permissions 2
field MIPROP
field MISRC
field MIDESC
field MIGL

; Unit lease history.
format 25
file PMP 1
record 25
permissions 2
field ULHPROP
field ULHUNIT
field ULHDATE
field ULHLEAS

; Unit occupancy history.
format 26
file PMP 1
record 26
permissions 2
field UOHPROP
field UOHUNIT
field UOHDATE
field UOHOCC

; Notes of a property already converted (or on an earlier line).
format 1N
file PMP 1
record 1
notes
field PROP
special "Converted Notes" longtext

; A user-defined field of a property already converted (or on an earlier line).
format 1U
file PMP 1
record 1
userfields 30
field PROP
special "cust fld name" text
special "cust fld value" text

; A user-defined field of a property tax already converted (or on an earlier line).
format 13U
file PMP 1
record 13
userfields 32
field PTPROP
field PTTXID
field PTYEAR
special "cust fld name" text
special "cust fld value" text

; A user-defined field of a unit already converted (or on an earlier line).
format 17U
file PMP 1
record 17
userfields 31
field UPROP
field UNIT
special "cust fld name" text
special "cust fld value" text

; A GL account: not part of this conversion.
format G1
file GLM 1
record 1
field AACCT

; A line of no PM record.
format 0
file PMP 1
record 0
data
special TEXT text
