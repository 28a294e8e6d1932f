; PM retail file (conversion type PMR). One format per kind of line; the columns of a line are
; the format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 percent rent control, 2 sales category, 3 breakpoints; 1N to 3N the notes of each
; kind of record; 4 a line of no PM retail record (every such line is refused, so that it goes to
; the reject file).
;
; Dates are month/day/year. Amounts are written with their decimals (1500.00); percents with up
; to six decimals. Choices take their number or their text.

; Percent rent control: every field, then notes kept with the record.
format 1
file PMR 1
record 1
permissions 2
field PRLEASE
field PRREV
field PRFCYE
field PROVSD
field PROVTD
field PRRETM
field PRSTORE
field PRBFREQ
field PRRECFQ
field PRNBD
field PRNRD
field PRBCT
field PRRCT
field PRBSTP1
field PRBSTP2
field PRRST
field PRLBD
field PRLRD
field PRSBTYP
field PRSBRC1
field PRSBU1
field PRSBRC2
field PRSBU2
field PRSBRC3
field PRSBU3
field PRSBRC4
field PRSBU4
field PRSBRC5
field PRSBU5
field PRSBRC6
field PRSBU6
field PRSBRC7
field PRSBU7
field PRSBRC8
field PRSBU8
field PRSBRC9
field PRSBU9
field PRSBR10
field PRSBU10
field PROVMT
field PROVFM
field PRBPMT
field PRCPTYP
field PRCPFM
field PRCPAMT
field PRCMPCP
special "Converted Notes" longtext

; Sales category: every field, then notes kept with the record.
format 2
file PMR 1
record 2
permissions 2
field SCLEASE
field SCREV
field SCSLCAT
field SCSFT
field SCSFTG
field SCSSD
field SCSED
field SCTSD
field SCTRD
field SCCO
special "Converted Notes" longtext

; Breakpoints: every field, then notes kept with the record.
format 3
file PMR 1
record 3
permissions 2
field BTLEASE
field BTREV
field BTSCAT
field BTTYPE
field BTNBP1
field BTNBP2
field BTNBP3
field BTNBP4
field BTNBP5
field BTNBP6
field BTNBP7
field BTNBP8
field BTNBP9
field BTNBP10
field BTF1
field BTF2
field BTF3
field BTF4
field BTF5
field BTA1
field BTA2
field BTA3
field BTA4
field BTA5
field BTA6
field BTA7
field BTA8
field BTA9
field BTA10
field BTOP1
field BTOP2
field BTOP3
field BTOP4
field BTOP5
field BTOP6
field BTOP7
field BTOP8
field BTOP9
field BTOP10
special "Converted Notes" longtext

; Notes of a percent rent control record already converted (or on an earlier line).
format 1N
file PMR 1
record 1
notes
field PRLEASE
field PRREV
special "Converted Notes" longtext

; Notes of a sales category record already converted (or on an earlier line).
format 2N
file PMR 1
record 2
notes
field SCLEASE
field SCREV
field SCSLCAT
special "Converted Notes" longtext

; Notes of a breakpoints record already converted (or on an earlier line).
format 3N
file PMR 1
record 3
notes
field BTLEASE
field BTREV
field BTSCAT
special "Converted Notes" longtext

; A line that no PM retail record takes.
format 4
file PMR 1
record 0
data
special TEXT text
