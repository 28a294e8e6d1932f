; The shipped GL transaction format and a format of custom fields of a transaction.
format 1
file GLT 6
record 1
permissions 2
field TACCT
field TACCTDT
field TAORC
field TDEBIT
field TCREDIT
field TDRCR
field TDUETO
field TDUEFRM
field TORGACT
field TRASCPR id 9 section 6
field TRASCBS id 9 section 7
field TRINTST
field TRDPLOC
field TRDPRUN
field TRDPSEQ
field TRUN
field TSEQ
field TAPPL
field TBATCH
field TSOURCE
field TINV
field TVENDOR
field TINVDST
field TCHECK
field TBANK
field TCCODE
field TRCODE
field TEQUIP
field TARINV
field TARCUST
special "Converted Notes" longtext

format U
file GLT 6
record 1
userfields 1
permissions 2
field TRUN
field TSEQ
special "cust fld name" text
special "cust fld value" text
