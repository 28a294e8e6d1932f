; JC standards (conversion type JCS): standard phases (cost codes) and standard categories, into
; the JC master file. One format per kind of line; the columns of a line are the format's field
; and special lines, in order. Every line must have all its format's columns (leave a column
; empty to keep the default).
;
; Formats: 16 standard phase, 17 standard category; 16N and 17N their notes; 1 a job, which this
; conversion does not take (its lines go to the reject file).
;
; A standard phase names up to four categories, each with its unit description (empty: the
; standard category's). Cost codes may be written with or without their separators (01-002.03
; or 0100203); a group cost code (01-000.00) carries no values of its own, and the groups a
; standard phase needs are created when missing.

; Standard category.
format 17
file JCM 1
record 17
permissions 2
field SCAT
field SCDESC
field SCCTYPE
field SCCACCA
field SCCACCB
field SCCACCC
field SCUDESC
field SCSNDBL
field SCTAXEX
special "Converted Notes" longtext

; Standard phase (cost code).
format 16
file JCM 1
record 16
permissions 2
field SPHASE
field SPDESC
field SPOVRHT
field SPCTYPE
field SPCACCA
field SPCACCB
field SPCACCC
field SPCUDSC
field SPCAT1
field SPCUD1
field SPCAT2
field SPCUD2
field SPCAT3
field SPCUD3
field SPCAT4
field SPCUD4
field SPSNDBL
field SPTAXEX
field SPUDESC
special "Converted Notes" longtext

; Notes of a standard category or phase already converted (or on an earlier line).
format 17N
file JCM 1
record 17
notes
field SCAT
special "Converted Notes" longtext

format 16N
file JCM 1
record 16
notes
field SPHASE
special "Converted Notes" longtext

; A job: not part of the standards.
format 1
file JCM 1
record 1
field JOB
field JDESC
