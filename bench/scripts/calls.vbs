' Time per call by name from VBScript: Number get, GenerateRnd and GetImage, a few thousand each.
Option Explicit
Dim v : Set v = CreateObject("Veltrano.Vexorin")
Dim n : n = 3000
Dim i, t, x
t = Timer
For i = 1 To n : x = v.Number : Next
WScript.Echo "vbscript Number get   " & FormatNumber((Timer - t) * 1000000 / n, 2) & " us/call"
t = Timer
For i = 1 To n : x = v.GenerateRnd(8) : Next
WScript.Echo "vbscript GenerateRnd  " & FormatNumber((Timer - t) * 1000000 / n, 2) & " us/call"
t = Timer
For i = 1 To n : x = v.GetImage() : Next
WScript.Echo "vbscript GetImage     " & FormatNumber((Timer - t) * 1000000 / n, 2) & " us/call"
