; AP invoices (conversion type API). An invoice line is followed by the lines of its
; distributions and of its distribution payments; a check line stands alone. The conversion reads
; the file in groups (an invoice with its distributions and payments, or a check) and converts or
; rejects each group whole: a rejected invoice takes its distributions and payments with it.
;
; The conversion declares the groups itself: keep one format per record type (1 Invoice,
; 2 Distribution, 6 Dist payment, 4 Check). Checks and the invoices they pay are matched across
; the whole file first, so a check and its invoices are converted together or not at all.
;
; Amounts are written with their decimals (100.00); dates as in any text file.

; Invoice: vendor, invoice, description, invoice date, date received, discount date, payment
; date, accounting date, invoice amount, tax, discount offered, retainage, deduction, approved,
; invoice codes 1 and 2, then the notes written with the invoice.
format 1
file APM 1
record 1
permissions 2
field OIVND
field OIINV
field OIDESC
field OIDATE
field OIDTRCV
field OIDSCDT
field OIPMTDT
field OIACTDT
field OIAMT
field OITAX
field OIDSCO
field OIAMT64
field OIAMT63
field OIAPPR
field OICODE1
field OICODE2
special "Converted Notes" longtext

; What the conversion sets, clears or checks: application, batch, source, DP location and map,
; run, sequence, pending, reference, due back date, completed, GL journal, the summary payee
; (name, two address lines, city, state, zip), invoice day, generate date, the payment fields
; (included, amount, to pay, discount, to hold, to deduct, memo) and skip verifications.
field OIAPPL
field OIBATCH
field OISRC
field OIDPLOC
field OIDPMAP
field OIRUN
field OISEQ
field OIPEND
field OICD527
field OIDUEBK
field OICOMPL
field OIGLJRN
field OIPNAME
field OIPADR1
field OIPADR2
field OIPCITY
field OIPST
field OIPZIP
field OIDAY
field OIGENDT
field OIINCLD
field OIPAMT
field OIPTOP
field OIPDSC
field OIPHLD
field OIPDED
field OIPMEMO
field OISKIPV

; Distribution: vendor, invoice, sequence, description, amount, tax group, tax, discount,
; retainage, deduction, expense account, payable account, job, extra, cost code, category,
; units.
format 2
file APM 1
record 2
permissions 2
field ODVND
field ODINV
field ODDSEQ
field ODDESC
field ODAMT
field ODTXGRP
field ODTAX
field ODDSC
field ODAMT64
field ODAMT63
field ODEXP
field ODPBL
field ODJOB
field ODEXTRA
field ODPHASE
field ODCAT
field ODUNITS
; Then: tax liability, completed, retainage payable and deduction credit accounts, the three
; further GL accounts, commitment and its line item, unit cost, the JC reference, equipment and
; its cost item, memo, the two unit fields with their units, meter, billing, final lien waiver,
; allocation, the payment fields and their "OR" twins, bank and exempt from 1099.
field ODTXLIA
field ODCOMPL
field ODRTPBL
field ODMDCR
field ODGL5
field ODGL6
field ODGL7
field ODSUB
field ODITEM
field ODUNTCS
field ODJC19
field ODCD69
field ODCD187
field ODMEMO
field ODEQ1
field ODEQU1
field ODEQ2
field ODEQU2
field ODMETER
field ODBILL
field ODLIEN
field ODALLOC
field ODINCLD
field ODPAMT
field ODPTOP
field ODPDSC
field ODPHLD
field ODPDED
field ODORINC
field ODORAMT
field ODORTOP
field ODORDSC
field ODORHLD
field ODORDED
field ODBANK
field ODEXMPT

; Dist payment: one payment of one distribution by one check. Vendor, invoice, bank, check,
; distribution sequence, payment number (0 or blank: the conversion gives one), gross payment,
; discount taken, tax paid, deduction applied, retainage paid, tax liability applied, discount
; lost, retainage held, amount deducted, paid amount, then the cash, discount, deduction,
; intercompany receivable and intercompany payable accounts (blank: built from the bank and the
; AP settings; a zero discount or amount deducted clears its account), then the check's date and type (1 computer, 2 manual, 3 electronic) and, for cleared checks,
; the CM clear and statement dates.
format 6
file APM 1
record 6
permissions 2
field PIVND
field PIINV
field PIBANK
field PICHECK
field PIDSEQ
field PIPMTNO
field PIGROSS
field PIDSCT
field PITAXPD
field PI63APL
field PI64PD
field PITXLAP
field PIDSCL
field PI64HLD
field PI128DD
field PIPDAMT
field PICASH
field PIDSCAC
field PIPPSAC
field PIICRC
field PIICPY
special "AP Check Date" date
special "AP Check Type" number
special "CM Clear Date" date
special "CM Stmt Date" date

; Check: bank, check number, date, payment number (0 or blank: the conversion gives one),
; amount, vendor, check type, then what only the conversion reads: void (1 yes), cleared amount,
; cleared (1 yes), cleared date, statement date and the CM description.
format 4
file APM 1
record 4
permissions 2
field CBANK
field CHECK
field CDATE
field CPMTNO
field CAMOUNT
field CVENDOR
field CTYPE
special CVOIDED number
special CCLRAMT number
special CCLEARD number
special CCLRDT date
special CSTMTDT date
special CDESC text

; Then: associated check, the summary payee (name, two address lines, city, state, zip), joint
; payee, batch, source and deposit location.
field CASSOC
field CPNAME
field CPADR1
field CPADR2
field CPCITY
field CPST
field CPZIP
field CJPAYEE
field CBATCH
field CSOURCE
field CDPLOC
