; GL transaction file (conversion type GLT). Every line is one transaction; a converted file is
; posted as one GL batch, and the conversion numbers the transactions itself (run, sequence,
; batch, application and source are set during conversion, whatever the columns hold).
;
; Account values may be written with or without their separators (01-1-10-1000-00 or
; 01110100000). The associated prefix and base are parts of an account: their columns name the
; part (section) so that they are substituted as that part.
;
; Columns: account, accounting date, accrual (1) or cash (2), debit, credit, debit (1) or
; credit (2), intercompany payable and receivable accounts, then fields the conversion clears or
; sets (each with a conversion note when it holds a value), the AP, check, equipment and AR
; references, and the notes written with the transaction.
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
