; The shipped transaction format, a format of the JC master's jobs and custom fields of a transaction.
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

format J
file JCM 1
record 1
permissions 2
field JOB

format U
file JCT 6
record 1
userfields 21
permissions 2
field TRUN
field TSEQ
special "cust fld name" text
special "cust fld value" text
