' GetImage many times from VBScript: cscript //nologo soak.vbs <calls>
Option Explicit
Dim v : Set v = CreateObject("Veltrano.Vexorin")
Dim n : n = 10000
If WScript.Arguments.Count > 0 Then n = CLng(WScript.Arguments(0))
v.Noise = 1
Dim i, t, x, bad : bad = 0
t = Timer
For i = 1 To n
  x = v.GetImage()
  If VarType(x) <> 8209 Then bad = bad + 1
Next
WScript.Echo n & " GetImage calls in " & FormatNumber(Timer - t, 1) & " s, " & bad & " without a byte array"
