; AP master file, vendors (conversion type APM). One format per kind of line; the columns of a
; line are the format's field and special lines, in order.
;
; Formats: 9 vendor (every field, then its notes), 10 1099 totals of a vendor for one GL
; account prefix (FLEVEL 2 prefix A, 3 prefix AB, 4 prefix ABC), 12 authorisation, VN notes
; of a vendor converted earlier (or on an earlier line), up to ten lines.

format 9
file APM 1
record 9
permissions 2
field VENDOR
field VNAME
field VADDR1
field VADDR2
field VCITY
field VSTATE
field VZIP
field VPHONE
field VCONTCT
field VTYPE
field VGLEXP id 9 section 8
field VJCPHS
field VJCCAT
field VTAXGRP
field VTAXCOL
field VICODE1
field VICODE2
field VDCODE
field VDSCPCT
field VDSCDAY
field VPMTDAY
field VDAYTYP
field VMDRATE
field VPPSRAT
field VHOLD
field VFM1099
field VFEDID
field VTIDNAM
field VSCNTIN
field V1099
field VPRATTY
field VGROREV
field VGENPPS
field VENTITY
field VACN
field VTAXFIL
field VDECLDT
field VVARCER
field VVARSD
field VEXPNUM
field VEXPCER
field VEXMTSD
field VEXMTED
field VINCLD
field VPAMT
field VPRETP
field VPDSC
field VPRETH
field VPMDED
field VTY1099
field VTYDED
field VLY1099
field VLYDED
field VNY1099
field VNYDED
field VOAMT
field VODSC
field VRETAIN
field VMDHELD
field VYTDAMT
field VYTDPD
field VYTDDO
field VYTDDT
field VYTDDL
field VYTDPA
field VYTDGP
field VLYAMT
field VLYPD
field VLYDO
field VLYDT
field VLYDL
field VLYPA
field VLYGP
field VLYMD
field VYTDMD
field VNYAMT
field VNYDO
field VNYDT
field VNYDL
field VNYPA
field VNYGP
field VNYMD
field VNYPD
special "Converted Notes" longtext

format 10
file APM 1
record 10
permissions 2
field FPREFIX
field FVENDOR
field FLEVEL
field FYTDAMT
field FYTDDED
field FLYAMT
field FLYDED
field FNYAMT
field FNYDED
field FGROREV

format 12
file APM 1
record 12
permissions 2
field AUTH
field ADESC

format VN
file APM 1
record 9
notes
field VENDOR
special NOTE1 text
special NOTE2 text
special NOTE3 text
special NOTE4 text
special NOTE5 text
special NOTE6 text
special NOTE7 text
special NOTE8 text
special NOTE9 text
special NOTE10 text

; Check formats are not converted with vendors: their lines go to the reject file (12070).
format 11
file APM 1
record 11
permissions 2
field FNAME
field FDESC
