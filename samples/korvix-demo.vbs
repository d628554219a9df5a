' korvix-demo.vbs - lists the SMBIOS structures of this machine through the
' Korvix component.
'
'   cscript //nologo korvix-demo.vbs
'
' Creates Korvix.SmBiosImpl, hands it the feature context of the "Korvix"
' feature, lets it read the table and walks the table with EnumAllInstances.
' Each decoded structure is printed as
'
'   Structure 3: type 3, handle 0x0003
'       Manufacturer = Dell Inc.
'
' Exit codes: 0 done, 1 the component cannot be created, 2 ComponentInitialize
' failed, 3 Initialize failed, 4 no structure could be decoded.
'
' A failed call raises an error in a script, and the RetVal of such a call does
' not reach the script: past the end of the table and for a structure without a
' decoder EnumAllInstances fails alike. The walk therefore ends after MaxMisses
' indexes in a row gave no record.
Option Explicit
On Error Resume Next

Const MaxMisses = 256
Const ByteArray = 8209 ' vbArray + vbByte

Dim smbios, ok, index, misses, decoded, names, values, retVal

Set smbios = CreateObject("Korvix.SmBiosImpl")
If Err.Number <> 0 Then
    WScript.Echo "Cannot create Korvix.SmBiosImpl: " & ErrorText()
    WScript.Quit 1
End If

ok = smbios.ComponentInitialize("Korvix", "1.05", "Client")
If Err.Number <> 0 Then
    WScript.Echo "ComponentInitialize failed: " & ErrorText()
    WScript.Quit 2
End If
' The component answers 1 (not True) on success, so it is compared with zero.
If CLng(ok) = 0 Then
    WScript.Echo "ComponentInitialize failed: no dependency table for Korvix 1.05"
    WScript.Quit 2
End If

smbios.Initialize
If Err.Number <> 0 Then
    WScript.Echo "Initialize failed: " & ErrorText()
    WScript.Quit 3
End If

index = 0
misses = 0
decoded = 0
Do While misses < MaxMisses
    Err.Clear
    names = Empty
    values = Empty
    retVal = smbios.EnumAllInstances(index, names, values)
    If Err.Number = 0 Then
        If misses > 0 Then WScript.Echo "(" & misses & " structure(s) without a decoder)"
        misses = 0
        decoded = decoded + 1
        PrintStructure index, names, values
    Else
        misses = misses + 1
    End If
    index = index + 1
Loop
Err.Clear

WScript.Echo decoded & " structure(s) decoded"
If decoded = 0 Then WScript.Quit 4
WScript.Quit 0

' The error number and, when the component gave one, its reason (for a table
' file that cannot be used: what is wrong with it).
Function ErrorText()
    ErrorText = "error 0x" & Hex(Err.Number)
    If Err.Description <> "" Then ErrorText = ErrorText & ": " & Err.Description
End Function

' The header line, then one "name = value" line per attribute after Type,
' Length and Handle.
Sub PrintStructure(index, names, values)
    Dim i
    WScript.Echo "Structure " & index & ": type " & CStr(values(0)) & ", handle 0x" & _
        Right("000" & Hex(CLng(values(2))), 4)
    For i = 3 To UBound(names)
        WScript.Echo "    " & names(i) & " = " & ValueText(values, i)
    Next
End Sub

' Text of values(i). Byte arrays cannot be read by a script at all: touching
' one ends the script, so only its variant type is looked at.
Function ValueText(values, i)
    If VarType(values(i)) = ByteArray Then
        ValueText = "(byte array)"
        Exit Function
    End If
    Err.Clear
    ValueText = CStr(values(i))
    If Err.Number <> 0 Then
        ValueText = "(not printable)"
        Err.Clear
    End If
End Function
