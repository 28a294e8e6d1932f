; PM new transactions (conversion type PMT). One format per kind of line; the
; columns of a line are the format's field lines, in order (leave a column empty to keep the
; default). Run, sequence, application, batch source and the lease-and-revision text are the
; conversion's to fill; a blank batch takes the run's batch.
;
; A payment (P) stands on the line right after the charge flow (CF) or misc income (MI) that it
; pays; later transactions of the same payment ID stand alone. Amounts are written in dollars
; and cents; payment IDs are renumbered from the company's last payment ID.

; Charge flow transaction.
format CF
file PMT 1
record 4
permissions 2
field CFCODE
field CFPROP
field CFUNIT
field CFTEN
field CFLEASE
field CFLREV
field CFDATE
field CFADATE
field CFDESC
field CFTXSEQ
field CFCDATE
field CFCTYPE
field CFSMCT
field CFTXGRP
field CFTXID
field CFPMTID
field CFRECOV
field CFAIACT
field CFDEPST
field CFCHG
field CFCRDIT
field CFMSAMT
field CFADR
field CFACR
field CFCDR
field CFCCR
field CFCCEX
field CFBFRM
field CFBTO
field CFFRM
field CFTO
field CFCFRM
field CFCTO
field CFTSFRM
field CFTSTO
field CFAPVND
field CFAPINV
field CFBLOC
field CFBATCH

; Payment transaction.
format P
file PMT 1
record 2
permissions 2
field PMTID
field PBATCH
field PTENANT
field PCHECK
field PRETCHK
field PPDATE
field PMTHD
field PRECBNK
field PADATE
field PPAYTYP
field PMSPROP
field PMISCR
field PTPROP
field PTUNIT
field PPAYER
field PBNKDDT
field PBNKDID
field PBANK
field PMISC
field PAMT

; Misc income transaction.
format MI
file PMT 1
record 5
permissions 2
field MIPROP
field MINCSRC
field MIDATE
field MIPMTID
field MIAMT
field MIACTD
field MIADR
field MIACR
field MICDR
field MICCR
field MIBFRM
field MIBTO
field MIFRM
field MITO
field MITSFRM
field MITSTO
field MICFRM
field MICTO
field MIBLOC
field MIBATCH

; Sales volume transaction.
format SV
file PMT 1
record 9
permissions 2
field SVPROP
field SVUNIT
field SVTEN
field SVLEASE
field SVREV
field SVRDATE
field SVTDATE
field SVSDATE
field SVVOL
field SVTYPE
field SVSTYPE
field SVSCAT
field SVBATCH
