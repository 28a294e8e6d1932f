; AR contacts and customers (conversion type ARM). Contacts and customers may stand in any
; order: a customer may name contacts defined further down, and a contact its customer.
;
; Formats: CONT a contact (AR system file), CUST a customer (AR master file); CONTN and CUSTN
; the notes of a contact or customer already converted (or on an earlier line). The last column
; of CONT and CUST is the record's notes ("Converted Notes").

; Contact: every field.
format CONT
file ARS 1
record 1
permissions 2
field COCONT
field CONAME
field COCUST
field COTYPEA
special "Converted Notes" longtext

; Customer: every field.
format CUST
file ARM 1
record 1
permissions 2
field CUST
field CNAME
field CCONT1
field CCONT2
field CCONT3
field CCONT4
field CCONT5
field CCONT6
field CCONT7
field CCONT8
field CCONT9
field CCONT10
field CBCONT
field CTYPEA
field CTRADE
field CCRDRTG
field CBFREQA
field CTXGRTB
field CTXGRPL
field CTXGRPM
field CTXGRPS
field CTXGRPE
field CTXGRPO
field CTXGRPT
field CGLPREF id 9 section 6
field CHISTOT
field CINVFMT
field CLSTINT
field CLSTINN
field CRATEL
field CRATEM
field CRATES
field CRATEE
field CRATEO
field CRATET
field CMARKTB
field CADDTB
field CDISCNT
field CTXGR
field CRCERT
field CGENDAT
field CGENSEQ
special "Converted Notes" longtext

; Notes of a contact.
format CONTN
file ARS 1
record 1
notes
field COCONT
special "Converted Notes" longtext

; Notes of a customer.
format CUSTN
file ARM 1
record 1
notes
field CUST
special "Converted Notes" longtext
