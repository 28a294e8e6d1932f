; JC transaction file (conversion type JCT). Every line is one job cost transaction; a converted
; file is registered as one JC batch, and the conversion numbers the transactions itself (run,
; sequence, batch, application and source are set during conversion, whatever the columns hold).
;
; A company whose job cost transactions are kept in the history file (company setting
; jc_transaction_flag 1) uses a copy of this template naming file 7 ("file JCT 7").
;
; Jobs and cost codes may be written with or without their separators (100-001 or 100001,
; 01-002.03 or 0100203). Transaction types are numbers (1 labor cost, 2 material cost, 24
; billing, 30 cash receipt ...); amounts are written with two decimals, units with up to four.
;
; Columns: job, extra, cost code, category, type, transaction date, accounting date,
; description, amount, units; then the fields the conversion clears or sets itself (each with a
; conversion note when it holds a value); the AP, check, deposit, payroll, equipment and
; commitment references; and the notes written with the transaction.
format 1
file JCT 6
record 1
permissions 2
field TJOB
field TEXTRA
field TPHASE
field TCAT
field TRANTYP
field TRANDAT
field TACTDAT
field TDESC
field TAMOUNT
field TUNITS
field TRDPLOC
field TRDPRUN
field TRDPSEQ
field TSTATUS
field TDEPADJ
field TADJID
field TRUN
field TSEQ
field TAPPL
field TBATCH
field TSOURCE
field TVENDOR
field TINV
field TDSEQ
field TBANK
field TCHECK
field TDEPDAT
field TDEPID
field TEMPL
field TPEDATE
field TCHKSEQ
field TEQ
field TECCODE
field TERCODE
field TEQCT
field TSUB
field TSITEM
special "Converted Notes" longtext

; A user-defined field of a transaction: JC transaction conversions take none, and such lines go
; to the reject file.
format U
file JCT 6
record 1
userfields 21
permissions 2
field TRUN
field TSEQ
special "cust fld name" text
special "cust fld value" text
