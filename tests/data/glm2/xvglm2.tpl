# Prefix records of the GL master file, short forms for the tests: the prefix, its settings
# and (formats ending in C) the current year's 13 period dates. 6 is a base account.
format 3
file GLM 1
record 3
permissions 2
field PAPRFX id 9 section 1
field PAFISC
field PAICPAY id 9 section 7
field PAICREC id 9 section 7
field PABLLVL
field PAPRCTL
field PAPDATE
field PAPCODE
field PAFDATE
field PAAPBNK
field PAU13PA
field PAFBD2Y
field APRSTAT

format 3C
file GLM 1
record 3
permissions 2
field PAPRFX id 9 section 1
field PAFISC
field PAICPAY id 9 section 7
field PAICREC id 9 section 7
field PABLLVL
field PAPRCTL
field PAPDATE
field PAPCODE
field PAFDATE
field PAAPBNK
field PAU13PA
field PAFBD2Y
field APRSTAT
field PAPCY1
field PAPCY2
field PAPCY3
field PAPCY4
field PAPCY5
field PAPCY6
field PAPCY7
field PAPCY8
field PAPCY9
field PAPCY10
field PAPCY11
field PAPCY12
field PAPCY13

format 4
file GLM 1
record 4
permissions 2
field PBPRFX id 9 section 9
field PBICPAY id 9 section 7
field PBICREC id 9 section 7
field PBBLLVL
field PBPRCTL
field PBPDATE
field PBPCODE
field PBFDATE
field PBAPBNK
field PBU13PA
field PBFBD2Y
field BPRSTAT

format 4C
file GLM 1
record 4
permissions 2
field PBPRFX id 9 section 9
field PBICPAY id 9 section 7
field PBICREC id 9 section 7
field PBBLLVL
field PBPRCTL
field PBPDATE
field PBPCODE
field PBFDATE
field PBAPBNK
field PBU13PA
field PBFBD2Y
field BPRSTAT
field PBPCY1
field PBPCY2
field PBPCY3
field PBPCY4
field PBPCY5
field PBPCY6
field PBPCY7
field PBPCY8
field PBPCY9
field PBPCY10
field PBPCY11
field PBPCY12
field PBPCY13

format 4P
file GLM 1
record 4
permissions 2
special PREBPART1 text
special PREBPART2 text
field PBICPAY id 9 section 7
field PBICREC id 9 section 7
field PBBLLVL
field PBPRCTL
field PBPDATE
field PBPCODE
field PBFDATE
field PBAPBNK
field PBU13PA
field PBFBD2Y
field BPRSTAT

format 5
file GLM 1
record 5
permissions 2
field PCPRFX id 9 section 10
field PCICPAY id 9 section 7
field PCICREC id 9 section 7
field PCBLLVL
field PCPRCTL
field PCPDATE
field PCPCODE
field PCFDATE
field PCAPBNK
field PCU13PA
field PCFBD2Y
field CPRSTAT

format 5C
file GLM 1
record 5
permissions 2
field PCPRFX id 9 section 10
field PCICPAY id 9 section 7
field PCICREC id 9 section 7
field PCBLLVL
field PCPRCTL
field PCPDATE
field PCPCODE
field PCFDATE
field PCAPBNK
field PCU13PA
field PCFBD2Y
field CPRSTAT
field PCPCY1
field PCPCY2
field PCPCY3
field PCPCY4
field PCPCY5
field PCPCY6
field PCPCY7
field PCPCY8
field PCPCY9
field PCPCY10
field PCPCY11
field PCPCY12
field PCPCY13

format 5P
file GLM 1
record 5
permissions 2
special PRECPART1 text
special PRECPART2 text
special PRECPART3 text
field PCICPAY id 9 section 7
field PCICREC id 9 section 7
field PCBLLVL
field PCPRCTL
field PCPDATE
field PCPCODE
field PCFDATE
field PCAPBNK
field PCU13PA
field PCFBD2Y
field CPRSTAT

format 6
file GLM 1
record 6
permissions 2
field BSBASE id 9 section 7
field BSTITLE
field BSTYPE
field BSICSTS
