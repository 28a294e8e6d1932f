; Payments of AP invoices already on file (conversion type API): the invoice line names an open
; invoice and carries no amounts, its distribution payment lines pay that invoice's
; distributions, and check lines carry the checks that paid them. Groups as in xvapi.tpl: an
; invoice with its payments, or a check. There are no Distribution lines, so the payments'
; checks are matched across the whole file before anything is converted.

; Invoice: vendor and invoice of the open invoice being paid.
format 1
file APM 1
record 1
permissions 2
field OIVND
field OIINV

; Dist payment: vendor, invoice, bank, check, distribution sequence, payment number (0 or
; blank: the conversion gives one), gross payment, discount taken, tax paid, deduction
; applied, retainage paid, tax liability applied, discount lost, retainage held, amount
; deducted, paid amount, the cash, discount, deduction, intercompany receivable and payable
; accounts, the check's date and type, the CM clear and statement dates.
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

; Check: bank, check number, date, payment number, amount, vendor, check type, void (1 yes),
; cleared amount, cleared (1 yes), cleared date, statement date, CM description.
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
