; PR employee records (conversion type PRM). One format per record type; the columns of a line
; are the format's field lines, in order. Every line must have all its format's columns (leave a
; column empty to keep the default).
;
; Formats 1 to 6: employee, employee work state, pay, tax, deduction and fringe; 1N to 6N the
; notes of a record already converted (or on an earlier line): its key fields, then the notes.
; Amounts are written in dollars and cents (1523.40), hours with up to four decimals. Names may
; be written first name first (John Smith): they are stored last name first (Smith; John).
;
; This copy lets current totals through: the year, quarter and month totals of the text file
; are converted as they stand.
version "ALLOW TOTALS"

; Employee.
format 1
file PRM 1
record 1
permissions 2
field EMPID
field ENAME
field ESSN
field EGID
field ESIN
field EFRNCH
field EPGID
field ERES1
field EWORK1
field ECPPF
field ECPPL
field ERES2
field EWORK2
field EFSTAT
field ERES3
field EWORK3
field EEICST
field EPEN
field ECERT
field EWCST
field EWCCD
field EPEX
field ETAXCD
field EGCERT
field EMEDLV
field ESPOUSE
field EDTHBEN
field EDEPRBT
field EMTGRBT
field EZONRBT
field ETAXDED
field EPERCR
field EFEDCR
field ETITLED
field EPAYDT
field ELROEDT
field EBENTYP
field ETRMRES
field EPAY
field EJOB
field EPHS
field EEQ
field ECOST
field EABILL
field EUNION
field ELOCAL
field ECLASS
field EDEPT
field ECCLASS
field ECNTRY
field EYREG
field EYREGN
field EYOT
field EYOTN
field EYGRS
field EYGRSN
field EQGRS
field EQGRSN
field EMGRS
field EMGRSN
field EMFRG

; Employee work state.
format 2
file PRM 1
record 2
permissions 2
field EMPID2
field E2WORK2
field E2FSTAT
field E2TAXCD
field E2TXCDA
field E2USEFD
field E2TXDED
field E2PERCR
field E2PRCR
field E2PEX
field E2YREG
field E2YREGN
field E2YTAX
field E2YTAXN
field E2QREG
field E2QREGN
field E2MWKS

; Employee pay.
format 3
file PRM 1
record 3
permissions 2
field EPEMPID
field EPPAYID
field EPPTYPE
field EPCALC
field EPAUTO
field EPAMT
field EPFID
field EPFREQ
field EPLIMIT
field EPPER
field EPSEQ
field EPYUN
field EPYUNN
field EPYPAY
field EPYPAYN
field EPQUN
field EPQUNN
field EPQPAY
field EPQPAYN
field EPMPAY

; Employee tax.
format 4
file PRM 1
record 4
permissions 2
field ETEMPID
field ETTXID
field ETLEV
field ETAMETH
field ETAAMT
field ETFID
field ETRECIP
field ETYTAX
field ETYTAXN
field ETYSUBJ
field ETYSUBN
field ETQTAX
field ETQTAXN
field ETMSUBJ

; Employee deduction.
format 5
file PRM 1
record 5
permissions 2
field EDEMPID
field EDDEDID
field EDCALC
field EDAMT
field EDFID
field EDLIMIT
field EDPER
field EDSEQ
field EDAUTO
field EDFREQ
field EDYDED
field EDYDEDN
field EDQDED
field EDQDEDN
field EDMDED
field EDBNKI
field EDBNKA
field EDATYPE
field EDPNOTE
field EDDATE
field EDTITLE

; Employee fringe.
format 6
file PRM 1
record 6
permissions 2
field EFEMPID
field EFFRGID
field EFAMT
field EFCALC
field EFFID
field EFAUTO
field EFFREQ
field EFLIMIT
field EFPER
field EFYFRG
field EFYFRGN
field EFQFRG
field EFQFRGN
field EFMFRG
field EFYBAS
field EFYBASN
field EFQBAS
field EFQBASN
field EFMBAS

; Notes of an employee record.
format 1N
file PRM 1
record 1
notes
field EMPID
special "Converted Notes" longtext

; Notes of an employee work state record.
format 2N
file PRM 1
record 2
notes
field EMPID2
field E2WORK2
special "Converted Notes" longtext

; Notes of an employee pay record.
format 3N
file PRM 1
record 3
notes
field EPEMPID
field EPPAYID
special "Converted Notes" longtext

; Notes of an employee tax record.
format 4N
file PRM 1
record 4
notes
field ETEMPID
field ETTXID
special "Converted Notes" longtext

; Notes of an employee deduction record.
format 5N
file PRM 1
record 5
notes
field EDEMPID
field EDDEDID
special "Converted Notes" longtext

; Notes of an employee fringe record.
format 6N
file PRM 1
record 6
notes
field EFEMPID
field EFFRGID
special "Converted Notes" longtext
