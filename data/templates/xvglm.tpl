; GL master file (conversion type GLM). One format per kind of line; the columns of a line are
; the format's field and special lines, in order. Every line must have all its format's columns
; (leave a column empty to keep the default).
;
; Formats: 1 account, 1B account completed from its base account, 2 journal, 3 prefix A,
; 4 prefix B (4P: given as its A and B parts), 5 prefix C (5P: given as its A, B and C parts),
; 6 base account, 7 partner, 8 budget; 1N to 8N the notes of each kind of record.
;
; Account values may be written with or without their separators (01-2-33-4000-10 or
; 01233400010). Prefixes, base accounts and retained-earnings base accounts are parts of an
; account: their columns name the part (section) so that they are checked and substituted as
; that part.

; Account: every field.
format 1
file GLM 1
record 1
permissions 2
field AACCT
field ATITLE
field ATYPE
field ACTLTY
field AWRNLV
field AICSTS
field ABGTS
field ACSFLW
field ACNTL
field AINGL
field ASUMM
field ACRBAL
field AFP1
field AFP2
field AFP3
field AFP4
field AFP5
field AFP6
field AFTBAL
field AP12
field AYP12
field ADP12
field ADYP12
field ACCRBAL
field ACFP1
field ACFP2
field ACFP3
field ACFP4
field ACFP5
field ACFP6
field ACFTBAL
field ACP12
field ACAYP12
field ACDP12
field ACDYP12
field AOSTMP

; Account whose title, type and settings come from its base account: the account and its balances.
format 1B
file GLM 1
record 1
permissions 2
field AACCT
field ACRBAL
field ACCRBAL

; Journal.
format 2
file GLM 1
record 2
permissions 2
field JJRNNUM
field JINTRCO

; Prefix A: the prefix, fiscal entity, intercompany accounts, fiscal settings, the calendar
; (52 period dates), closed periods, 50 partners (number, percentage, retained-earnings base)
; and the DP process status.
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
field PAAPRVL
field PAFEDID
field PAU13PA
field PAFBD2Y
field PAP2Y1
field PAP2Y2
field PAP2Y3
field PAP2Y4
field PAP2Y5
field PAP2Y6
field PAP2Y7
field PAP2Y8
field PAP2Y9
field PAP2Y10
field PAP2Y11
field PAP2Y12
field PAP2Y13
field PAP1Y1
field PAP1Y2
field PAP1Y3
field PAP1Y4
field PAP1Y5
field PAP1Y6
field PAP1Y7
field PAP1Y8
field PAP1Y9
field PAP1Y10
field PAP1Y11
field PAP1Y12
field PAP1Y13
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
field PAP1F1
field PAP1F2
field PAP1F3
field PAP1F4
field PAP1F5
field PAP1F6
field PAP1F7
field PAP1F8
field PAP1F9
field PAP1F10
field PAP1F11
field PAP1F12
field PAP1F13
field PAPCL1
field PAPCL2
field PAPCL3
field PAPCL4
field PAPCL5
field PAPCL6
field PAPCL7
field PAPCL8
field PAPCL9
field PAPCL10
field PAPCL11
field PAPCL12
field PAPCL13
field PAPCL14
field PAPCL15
field PAPCL16
field PAPCL17
field PAPCL18
field PAPCL19
field PAPCL20
field PAPCL21
field PAPCL22
field PAPCL23
field PAPCL24
field PAPCL25
field PAPCL26
field PAPAR1
field PAPP1
field PAPB1 id 9 section 7
field PAPN2
field PAPP2
field PAPB2 id 9 section 7
field PAPN3
field PAPP3
field PAPB3 id 9 section 7
field PAPN4
field PAPP4
field PAPB4 id 9 section 7
field PAPN5
field PAPP5
field PAPB5 id 9 section 7
field PAPN6
field PAPP6
field PAPB6 id 9 section 7
field PAPN7
field PAPP7
field PAPB7 id 9 section 7
field PAPN8
field PAPP8
field PAPB8 id 9 section 7
field PAPN9
field PAPP9
field PAPB9 id 9 section 7
field PAPN10
field PAPP10
field PAPB10 id 9 section 7
field PAPN11
field PAPP11
field PAPB11 id 9 section 7
field PAPN12
field PAPP12
field PAPB12 id 9 section 7
field PAPN13
field PAPP13
field PAPB13 id 9 section 7
field PAPN14
field PAPP14
field PAPB14 id 9 section 7
field PAPN15
field PAPP15
field PAPB15 id 9 section 7
field PAPN16
field PAPP16
field PAPB16 id 9 section 7
field PAPN17
field PAPP17
field PAPB17 id 9 section 7
field PAPN18
field PAPP18
field PAPB18 id 9 section 7
field PAPN19
field PAPP19
field PAPB19 id 9 section 7
field PAPN20
field PAPP20
field PAPB20 id 9 section 7
field PAPN21
field PAPP21
field PAPB21 id 9 section 7
field PAPN22
field PAPP22
field PAPB22 id 9 section 7
field PAPN23
field PAPP23
field PAPB23 id 9 section 7
field PAPN24
field PAPP24
field PAPB24 id 9 section 7
field PAPN25
field PAPP25
field PAPB25 id 9 section 7
field PAPN26
field PAPP26
field PAPB26 id 9 section 7
field PAPN27
field PAPP27
field PAPB27 id 9 section 7
field PAPN28
field PAPP28
field PAPB28 id 9 section 7
field PAPN29
field PAPP29
field PAPB29 id 9 section 7
field PAPN30
field PAPP30
field PAPB30 id 9 section 7
field PAPN31
field PAPP31
field PAPB31 id 9 section 7
field PAPN32
field PAPP32
field PAPB32 id 9 section 7
field PAPN33
field PAPP33
field PAPB33 id 9 section 7
field PAPN34
field PAPP34
field PAPB34 id 9 section 7
field PAPN35
field PAPP35
field PAPB35 id 9 section 7
field PAPN36
field PAPP36
field PAPB36 id 9 section 7
field PAPN37
field PAPP37
field PAPB37 id 9 section 7
field PAPN38
field PAPP38
field PAPB38 id 9 section 7
field PAPN39
field PAPP39
field PAPB39 id 9 section 7
field PAPN40
field PAPP40
field PAPB40 id 9 section 7
field PAPN41
field PAPP41
field PAPB41 id 9 section 7
field PAPN42
field PAPP42
field PAPB42 id 9 section 7
field PAPN43
field PAPP43
field PAPB43 id 9 section 7
field PAPN44
field PAPP44
field PAPB44 id 9 section 7
field PAPN45
field PAPP45
field PAPB45 id 9 section 7
field PAPN46
field PAPP46
field PAPB46 id 9 section 7
field PAPN47
field PAPP47
field PAPB47 id 9 section 7
field PAPN48
field PAPP48
field PAPB48 id 9 section 7
field PAPN49
field PAPP49
field PAPB49 id 9 section 7
field PAPN50
field PAPP50
field PAPAR50 id 9 section 7
field APRSTAT

; Prefix B: the prefix AB and the same settings as prefix A.
format 4
file GLM 1
record 4
permissions 2
field PBPRFX id 9 section 9
field PBALTA
field PBALTB
field PBICPAY id 9 section 7
field PBICREC id 9 section 7
field PBBLLVL
field PBPRCTL
field PBPDATE
field PBPCODE
field PBFDATE
field PBAPBNK
field PBAPRVL
field PBFEDID
field PBU13PA
field PBFBD2Y
field PBP2Y1
field PBP2Y2
field PBP2Y3
field PBP2Y4
field PBP2Y5
field PBP2Y6
field PBP2Y7
field PBP2Y8
field PBP2Y9
field PBP2Y10
field PBP2Y11
field PBP2Y12
field PBP2Y13
field PBP1Y1
field PBP1Y2
field PBP1Y3
field PBP1Y4
field PBP1Y5
field PBP1Y6
field PBP1Y7
field PBP1Y8
field PBP1Y9
field PBP1Y10
field PBP1Y11
field PBP1Y12
field PBP1Y13
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
field PBP1F1
field PBP1F2
field PBP1F3
field PBP1F4
field PBP1F5
field PBP1F6
field PBP1F7
field PBP1F8
field PBP1F9
field PBP1F10
field PBP1F11
field PBP1F12
field PBP1F13
field PBPCL1
field PBPCL2
field PBPCL3
field PBPCL4
field PBPCL5
field PBPCL6
field PBPCL7
field PBPCL8
field PBPCL9
field PBPCL10
field PBPCL11
field PBPCL12
field PBPCL13
field PBPCL14
field PBPCL15
field PBPCL16
field PBPCL17
field PBPCL18
field PBPCL19
field PBPCL20
field PBPCL21
field PBPCL22
field PBPCL23
field PBPCL24
field PBPCL25
field PBPCL26
field PBPAR1
field PBPP1
field PBPB1 id 9 section 7
field PBPN2
field PBPP2
field PBPB2 id 9 section 7
field PBPN3
field PBPP3
field PBPB3 id 9 section 7
field PBPN4
field PBPP4
field PBPB4 id 9 section 7
field PBPN5
field PBPP5
field PBPB5 id 9 section 7
field PBPN6
field PBPP6
field PBPB6 id 9 section 7
field PBPN7
field PBPP7
field PBPB7 id 9 section 7
field PBPN8
field PBPP8
field PBPB8 id 9 section 7
field PBPN9
field PBPP9
field PBPB9 id 9 section 7
field PBPN10
field PBPP10
field PBPB10 id 9 section 7
field PBPN11
field PBPP11
field PBPB11 id 9 section 7
field PBPN12
field PBPP12
field PBPB12 id 9 section 7
field PBPN13
field PBPP13
field PBPB13 id 9 section 7
field PBPN14
field PBPP14
field PBPB14 id 9 section 7
field PBPN15
field PBPP15
field PBPB15 id 9 section 7
field PBPN16
field PBPP16
field PBPB16 id 9 section 7
field PBPN17
field PBPP17
field PBPB17 id 9 section 7
field PBPN18
field PBPP18
field PBPB18 id 9 section 7
field PBPN19
field PBPP19
field PBPB19 id 9 section 7
field PBPN20
field PBPP20
field PBPB20 id 9 section 7
field PBPN21
field PBPP21
field PBPB21 id 9 section 7
field PBPN22
field PBPP22
field PBPB22 id 9 section 7
field PBPN23
field PBPP23
field PBPB23 id 9 section 7
field PBPN24
field PBPP24
field PBPB24 id 9 section 7
field PBPN25
field PBPP25
field PBPB25 id 9 section 7
field PBPN26
field PBPP26
field PBPB26 id 9 section 7
field PBPN27
field PBPP27
field PBPB27 id 9 section 7
field PBPN28
field PBPP28
field PBPB28 id 9 section 7
field PBPN29
field PBPP29
field PBPB29 id 9 section 7
field PBPN30
field PBPP30
field PBPB30 id 9 section 7
field PBPN31
field PBPP31
field PBPB31 id 9 section 7
field PBPN32
field PBPP32
field PBPB32 id 9 section 7
field PBPN33
field PBPP33
field PBPB33 id 9 section 7
field PBPN34
field PBPP34
field PBPB34 id 9 section 7
field PBPN35
field PBPP35
field PBPB35 id 9 section 7
field PBPN36
field PBPP36
field PBPB36 id 9 section 7
field PBPN37
field PBPP37
field PBPB37 id 9 section 7
field PBPN38
field PBPP38
field PBPB38 id 9 section 7
field PBPN39
field PBPP39
field PBPB39 id 9 section 7
field PBPN40
field PBPP40
field PBPB40 id 9 section 7
field PBPN41
field PBPP41
field PBPB41 id 9 section 7
field PBPN42
field PBPP42
field PBPB42 id 9 section 7
field PBPN43
field PBPP43
field PBPB43 id 9 section 7
field PBPN44
field PBPP44
field PBPB44 id 9 section 7
field PBPN45
field PBPP45
field PBPB45 id 9 section 7
field PBPN46
field PBPP46
field PBPB46 id 9 section 7
field PBPN47
field PBPP47
field PBPB47 id 9 section 7
field PBPN48
field PBPP48
field PBPB48 id 9 section 7
field PBPN49
field PBPP49
field PBPB49 id 9 section 7
field PBPN50
field PBPP50
field PBPAR50 id 9 section 7
field BPRSTAT

; Prefix B given as its parts: the prefix A part, then the prefix B part.
format 4P
file GLM 1
record 4
permissions 2
special PREBPART1 text
special PREBPART2 text
field PBALTA
field PBALTB
field PBICPAY id 9 section 7
field PBICREC id 9 section 7
field PBBLLVL
field PBPRCTL
field PBPDATE
field PBPCODE
field PBFDATE
field PBAPBNK
field PBAPRVL
field PBFEDID
field PBU13PA
field PBFBD2Y
field PBP2Y1
field PBP2Y2
field PBP2Y3
field PBP2Y4
field PBP2Y5
field PBP2Y6
field PBP2Y7
field PBP2Y8
field PBP2Y9
field PBP2Y10
field PBP2Y11
field PBP2Y12
field PBP2Y13
field PBP1Y1
field PBP1Y2
field PBP1Y3
field PBP1Y4
field PBP1Y5
field PBP1Y6
field PBP1Y7
field PBP1Y8
field PBP1Y9
field PBP1Y10
field PBP1Y11
field PBP1Y12
field PBP1Y13
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
field PBP1F1
field PBP1F2
field PBP1F3
field PBP1F4
field PBP1F5
field PBP1F6
field PBP1F7
field PBP1F8
field PBP1F9
field PBP1F10
field PBP1F11
field PBP1F12
field PBP1F13
field PBPCL1
field PBPCL2
field PBPCL3
field PBPCL4
field PBPCL5
field PBPCL6
field PBPCL7
field PBPCL8
field PBPCL9
field PBPCL10
field PBPCL11
field PBPCL12
field PBPCL13
field PBPCL14
field PBPCL15
field PBPCL16
field PBPCL17
field PBPCL18
field PBPCL19
field PBPCL20
field PBPCL21
field PBPCL22
field PBPCL23
field PBPCL24
field PBPCL25
field PBPCL26
field PBPAR1
field PBPP1
field PBPB1 id 9 section 7
field PBPN2
field PBPP2
field PBPB2 id 9 section 7
field PBPN3
field PBPP3
field PBPB3 id 9 section 7
field PBPN4
field PBPP4
field PBPB4 id 9 section 7
field PBPN5
field PBPP5
field PBPB5 id 9 section 7
field PBPN6
field PBPP6
field PBPB6 id 9 section 7
field PBPN7
field PBPP7
field PBPB7 id 9 section 7
field PBPN8
field PBPP8
field PBPB8 id 9 section 7
field PBPN9
field PBPP9
field PBPB9 id 9 section 7
field PBPN10
field PBPP10
field PBPB10 id 9 section 7
field PBPN11
field PBPP11
field PBPB11 id 9 section 7
field PBPN12
field PBPP12
field PBPB12 id 9 section 7
field PBPN13
field PBPP13
field PBPB13 id 9 section 7
field PBPN14
field PBPP14
field PBPB14 id 9 section 7
field PBPN15
field PBPP15
field PBPB15 id 9 section 7
field PBPN16
field PBPP16
field PBPB16 id 9 section 7
field PBPN17
field PBPP17
field PBPB17 id 9 section 7
field PBPN18
field PBPP18
field PBPB18 id 9 section 7
field PBPN19
field PBPP19
field PBPB19 id 9 section 7
field PBPN20
field PBPP20
field PBPB20 id 9 section 7
field PBPN21
field PBPP21
field PBPB21 id 9 section 7
field PBPN22
field PBPP22
field PBPB22 id 9 section 7
field PBPN23
field PBPP23
field PBPB23 id 9 section 7
field PBPN24
field PBPP24
field PBPB24 id 9 section 7
field PBPN25
field PBPP25
field PBPB25 id 9 section 7
field PBPN26
field PBPP26
field PBPB26 id 9 section 7
field PBPN27
field PBPP27
field PBPB27 id 9 section 7
field PBPN28
field PBPP28
field PBPB28 id 9 section 7
field PBPN29
field PBPP29
field PBPB29 id 9 section 7
field PBPN30
field PBPP30
field PBPB30 id 9 section 7
field PBPN31
field PBPP31
field PBPB31 id 9 section 7
field PBPN32
field PBPP32
field PBPB32 id 9 section 7
field PBPN33
field PBPP33
field PBPB33 id 9 section 7
field PBPN34
field PBPP34
field PBPB34 id 9 section 7
field PBPN35
field PBPP35
field PBPB35 id 9 section 7
field PBPN36
field PBPP36
field PBPB36 id 9 section 7
field PBPN37
field PBPP37
field PBPB37 id 9 section 7
field PBPN38
field PBPP38
field PBPB38 id 9 section 7
field PBPN39
field PBPP39
field PBPB39 id 9 section 7
field PBPN40
field PBPP40
field PBPB40 id 9 section 7
field PBPN41
field PBPP41
field PBPB41 id 9 section 7
field PBPN42
field PBPP42
field PBPB42 id 9 section 7
field PBPN43
field PBPP43
field PBPB43 id 9 section 7
field PBPN44
field PBPP44
field PBPB44 id 9 section 7
field PBPN45
field PBPP45
field PBPB45 id 9 section 7
field PBPN46
field PBPP46
field PBPB46 id 9 section 7
field PBPN47
field PBPP47
field PBPB47 id 9 section 7
field PBPN48
field PBPP48
field PBPB48 id 9 section 7
field PBPN49
field PBPP49
field PBPB49 id 9 section 7
field PBPN50
field PBPP50
field PBPAR50 id 9 section 7
field BPRSTAT

; Prefix C: the prefix ABC and the same settings as prefix A.
format 5
file GLM 1
record 5
permissions 2
field PCPRFX id 9 section 10
field PCALTA
field PCALTB
field PCALTBO
field PCALTC
field PCICPAY id 9 section 7
field PCICREC id 9 section 7
field PCBLLVL
field PCPRCTL
field PCPDATE
field PCPCODE
field PCFDATE
field PCAPBNK
field PCAPRVL
field PCFEDID
field PCU13PA
field PCFBD2Y
field PCP2Y1
field PCP2Y2
field PCP2Y3
field PCP2Y4
field PCP2Y5
field PCP2Y6
field PCP2Y7
field PCP2Y8
field PCP2Y9
field PCP2Y10
field PCP2Y11
field PCP2Y12
field PCP2Y13
field PCP1Y1
field PCP1Y2
field PCP1Y3
field PCP1Y4
field PCP1Y5
field PCP1Y6
field PCP1Y7
field PCP1Y8
field PCP1Y9
field PCP1Y10
field PCP1Y11
field PCP1Y12
field PCP1Y13
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
field PCP1F1
field PCP1F2
field PCP1F3
field PCP1F4
field PCP1F5
field PCP1F6
field PCP1F7
field PCP1F8
field PCP1F9
field PCP1F10
field PCP1F11
field PCP1F12
field PCP1F13
field PCPCL1
field PCPCL2
field PCPCL3
field PCPCL4
field PCPCL5
field PCPCL6
field PCPCL7
field PCPCL8
field PCPCL9
field PCPCL10
field PCPCL11
field PCPCL12
field PCPCL13
field PCPCL14
field PCPCL15
field PCPCL16
field PCPCL17
field PCPCL18
field PCPCL19
field PCPCL20
field PCPCL21
field PCPCL22
field PCPCL23
field PCPCL24
field PCPCL25
field PCPCL26
field PCPAR1
field PCPP1
field PCPB1 id 9 section 7
field PCPN2
field PCPP2
field PCPB2 id 9 section 7
field PCPN3
field PCPP3
field PCPB3 id 9 section 7
field PCPN4
field PCPP4
field PCPB4 id 9 section 7
field PCPN5
field PCPP5
field PCPB5 id 9 section 7
field PCPN6
field PCPP6
field PCPB6 id 9 section 7
field PCPN7
field PCPP7
field PCPB7 id 9 section 7
field PCPN8
field PCPP8
field PCPB8 id 9 section 7
field PCPN9
field PCPP9
field PCPB9 id 9 section 7
field PCPN10
field PCPP10
field PCPB10 id 9 section 7
field PCPN11
field PCPP11
field PCPB11 id 9 section 7
field PCPN12
field PCPP12
field PCPB12 id 9 section 7
field PCPN13
field PCPP13
field PCPB13 id 9 section 7
field PCPN14
field PCPP14
field PCPB14 id 9 section 7
field PCPN15
field PCPP15
field PCPB15 id 9 section 7
field PCPN16
field PCPP16
field PCPB16 id 9 section 7
field PCPN17
field PCPP17
field PCPB17 id 9 section 7
field PCPN18
field PCPP18
field PCPB18 id 9 section 7
field PCPN19
field PCPP19
field PCPB19 id 9 section 7
field PCPN20
field PCPP20
field PCPB20 id 9 section 7
field PCPN21
field PCPP21
field PCPB21 id 9 section 7
field PCPN22
field PCPP22
field PCPB22 id 9 section 7
field PCPN23
field PCPP23
field PCPB23 id 9 section 7
field PCPN24
field PCPP24
field PCPB24 id 9 section 7
field PCPN25
field PCPP25
field PCPB25 id 9 section 7
field PCPN26
field PCPP26
field PCPB26 id 9 section 7
field PCPN27
field PCPP27
field PCPB27 id 9 section 7
field PCPN28
field PCPP28
field PCPB28 id 9 section 7
field PCPN29
field PCPP29
field PCPB29 id 9 section 7
field PCPN30
field PCPP30
field PCPB30 id 9 section 7
field PCPN31
field PCPP31
field PCPB31 id 9 section 7
field PCPN32
field PCPP32
field PCPB32 id 9 section 7
field PCPN33
field PCPP33
field PCPB33 id 9 section 7
field PCPN34
field PCPP34
field PCPB34 id 9 section 7
field PCPN35
field PCPP35
field PCPB35 id 9 section 7
field PCPN36
field PCPP36
field PCPB36 id 9 section 7
field PCPN37
field PCPP37
field PCPB37 id 9 section 7
field PCPN38
field PCPP38
field PCPB38 id 9 section 7
field PCPN39
field PCPP39
field PCPB39 id 9 section 7
field PCPN40
field PCPP40
field PCPB40 id 9 section 7
field PCPN41
field PCPP41
field PCPB41 id 9 section 7
field PCPN42
field PCPP42
field PCPB42 id 9 section 7
field PCPN43
field PCPP43
field PCPB43 id 9 section 7
field PCPN44
field PCPP44
field PCPB44 id 9 section 7
field PCPN45
field PCPP45
field PCPB45 id 9 section 7
field PCPN46
field PCPP46
field PCPB46 id 9 section 7
field PCPN47
field PCPP47
field PCPB47 id 9 section 7
field PCPN48
field PCPP48
field PCPB48 id 9 section 7
field PCPN49
field PCPP49
field PCPB49 id 9 section 7
field PCPN50
field PCPP50
field PCPAR50 id 9 section 7
field CPRSTAT

; Prefix C given as its parts: the prefix A part, the prefix B part, then the prefix C part.
format 5P
file GLM 1
record 5
permissions 2
special PRECPART1 text
special PRECPART2 text
special PRECPART3 text
field PCALTA
field PCALTB
field PCALTBO
field PCALTC
field PCICPAY id 9 section 7
field PCICREC id 9 section 7
field PCBLLVL
field PCPRCTL
field PCPDATE
field PCPCODE
field PCFDATE
field PCAPBNK
field PCAPRVL
field PCFEDID
field PCU13PA
field PCFBD2Y
field PCP2Y1
field PCP2Y2
field PCP2Y3
field PCP2Y4
field PCP2Y5
field PCP2Y6
field PCP2Y7
field PCP2Y8
field PCP2Y9
field PCP2Y10
field PCP2Y11
field PCP2Y12
field PCP2Y13
field PCP1Y1
field PCP1Y2
field PCP1Y3
field PCP1Y4
field PCP1Y5
field PCP1Y6
field PCP1Y7
field PCP1Y8
field PCP1Y9
field PCP1Y10
field PCP1Y11
field PCP1Y12
field PCP1Y13
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
field PCP1F1
field PCP1F2
field PCP1F3
field PCP1F4
field PCP1F5
field PCP1F6
field PCP1F7
field PCP1F8
field PCP1F9
field PCP1F10
field PCP1F11
field PCP1F12
field PCP1F13
field PCPCL1
field PCPCL2
field PCPCL3
field PCPCL4
field PCPCL5
field PCPCL6
field PCPCL7
field PCPCL8
field PCPCL9
field PCPCL10
field PCPCL11
field PCPCL12
field PCPCL13
field PCPCL14
field PCPCL15
field PCPCL16
field PCPCL17
field PCPCL18
field PCPCL19
field PCPCL20
field PCPCL21
field PCPCL22
field PCPCL23
field PCPCL24
field PCPCL25
field PCPCL26
field PCPAR1
field PCPP1
field PCPB1 id 9 section 7
field PCPN2
field PCPP2
field PCPB2 id 9 section 7
field PCPN3
field PCPP3
field PCPB3 id 9 section 7
field PCPN4
field PCPP4
field PCPB4 id 9 section 7
field PCPN5
field PCPP5
field PCPB5 id 9 section 7
field PCPN6
field PCPP6
field PCPB6 id 9 section 7
field PCPN7
field PCPP7
field PCPB7 id 9 section 7
field PCPN8
field PCPP8
field PCPB8 id 9 section 7
field PCPN9
field PCPP9
field PCPB9 id 9 section 7
field PCPN10
field PCPP10
field PCPB10 id 9 section 7
field PCPN11
field PCPP11
field PCPB11 id 9 section 7
field PCPN12
field PCPP12
field PCPB12 id 9 section 7
field PCPN13
field PCPP13
field PCPB13 id 9 section 7
field PCPN14
field PCPP14
field PCPB14 id 9 section 7
field PCPN15
field PCPP15
field PCPB15 id 9 section 7
field PCPN16
field PCPP16
field PCPB16 id 9 section 7
field PCPN17
field PCPP17
field PCPB17 id 9 section 7
field PCPN18
field PCPP18
field PCPB18 id 9 section 7
field PCPN19
field PCPP19
field PCPB19 id 9 section 7
field PCPN20
field PCPP20
field PCPB20 id 9 section 7
field PCPN21
field PCPP21
field PCPB21 id 9 section 7
field PCPN22
field PCPP22
field PCPB22 id 9 section 7
field PCPN23
field PCPP23
field PCPB23 id 9 section 7
field PCPN24
field PCPP24
field PCPB24 id 9 section 7
field PCPN25
field PCPP25
field PCPB25 id 9 section 7
field PCPN26
field PCPP26
field PCPB26 id 9 section 7
field PCPN27
field PCPP27
field PCPB27 id 9 section 7
field PCPN28
field PCPP28
field PCPB28 id 9 section 7
field PCPN29
field PCPP29
field PCPB29 id 9 section 7
field PCPN30
field PCPP30
field PCPB30 id 9 section 7
field PCPN31
field PCPP31
field PCPB31 id 9 section 7
field PCPN32
field PCPP32
field PCPB32 id 9 section 7
field PCPN33
field PCPP33
field PCPB33 id 9 section 7
field PCPN34
field PCPP34
field PCPB34 id 9 section 7
field PCPN35
field PCPP35
field PCPB35 id 9 section 7
field PCPN36
field PCPP36
field PCPB36 id 9 section 7
field PCPN37
field PCPP37
field PCPB37 id 9 section 7
field PCPN38
field PCPP38
field PCPB38 id 9 section 7
field PCPN39
field PCPP39
field PCPB39 id 9 section 7
field PCPN40
field PCPP40
field PCPB40 id 9 section 7
field PCPN41
field PCPP41
field PCPB41 id 9 section 7
field PCPN42
field PCPP42
field PCPB42 id 9 section 7
field PCPN43
field PCPP43
field PCPB43 id 9 section 7
field PCPN44
field PCPP44
field PCPB44 id 9 section 7
field PCPN45
field PCPP45
field PCPB45 id 9 section 7
field PCPN46
field PCPP46
field PCPB46 id 9 section 7
field PCPN47
field PCPP47
field PCPB47 id 9 section 7
field PCPN48
field PCPP48
field PCPB48 id 9 section 7
field PCPN49
field PCPP49
field PCPB49 id 9 section 7
field PCPN50
field PCPP50
field PCPAR50 id 9 section 7
field CPRSTAT

; Base account.
format 6
file GLM 1
record 6
permissions 2
field BSBASE id 9 section 7
field BSTITLE
field BSTYPE
field BSSUMM
field BSINGL
field BSCTLTY
field BSWRNLV
field BSCNTL
field BSICSTS
field BSBGTS
field BSCSFLW

; Partner.
format 7
file GLM 1
record 7
permissions 2
field PRPRTNR

; Budget.
format 8
file GLM 1
record 8
permissions 2
field BACCT
field BYEAR
field BTYPE
field BCANN
field BCPER1
field BCPER2
field BCPER3
field BCPER4
field BCPER5
field BCPER6
field BCPER7
field BCPER8
field BCPER9
field BCPER10
field BCPER11
field BCPER12
field BCPER13
field BAANN
field BAPER1
field BAPER2
field BAPER3
field BAPER4
field BAPER5
field BAPER6
field BAPER7
field BAPER8
field BAPER9
field BAPER10
field BAPER11
field BAPER12
field BAPER13

; Notes of a account already converted (or on an earlier line).
format 1N
file GLM 1
record 1
permissions 2
field AACCT
special "Converted Notes" longtext

; Notes of a journal already converted (or on an earlier line).
format 2N
file GLM 1
record 2
permissions 2
field JJRNNUM
special "Converted Notes" longtext

; Notes of a prefix a already converted (or on an earlier line).
format 3N
file GLM 1
record 3
permissions 2
field PAPRFX id 9 section 1
special "Converted Notes" longtext

; Notes of a prefix b already converted (or on an earlier line).
format 4N
file GLM 1
record 4
permissions 2
field PBPRFX id 9 section 9
special "Converted Notes" longtext

; Notes of a prefix c already converted (or on an earlier line).
format 5N
file GLM 1
record 5
permissions 2
field PCPRFX id 9 section 10
special "Converted Notes" longtext

; Notes of a base account already converted (or on an earlier line).
format 6N
file GLM 1
record 6
permissions 2
field BSBASE id 9 section 7
special "Converted Notes" longtext

; Notes of a partner already converted (or on an earlier line).
format 7N
file GLM 1
record 7
permissions 2
field PRPRTNR
special "Converted Notes" longtext

; Notes of a budget already converted (or on an earlier line).
format 8N
file GLM 1
record 8
permissions 2
field BACCT
field BYEAR
field BTYPE
special "Converted Notes" longtext
