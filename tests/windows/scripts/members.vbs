' Every member of the component by name, from VBScript. Passes only when it prints the sentinel.
Option Explicit
WScript.Echo "members.vbs"  ' a first line before the component is touched
Dim failures : failures = 0
Sub Check(what, ok)
  If ok Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

Dim progId
For Each progId In Array("Veltrano.Vexorin", "Veltrano.Vexorin.2")
  Dim v : Set v = CreateObject(progId)
  Check progId & ": defaults", v.Height = 30 And v.Noise = 0 And Len(v.Number) = 8 And v.GetWidth() = 120
  Dim n : n = v.GenerateRnd(6)
  Check progId & ": GenerateRnd(6) in range", n >= 0 And n < 1000000
  Check progId & ": Number is zero-padded", v.Number = Right("000000" & CStr(n), 6)
  v.Number = "  42"
  Check progId & ": Number put", v.Number = "0042"
  v.Height = 10
  Check progId & ": Height put 10 stores 20", v.Height = 20
  v.Noise = -1
  Check progId & ": Noise put", v.Noise = -1
  Check progId & ": GetWidth", v.GetWidth() = 40
  Check progId & ": GetImage is a byte array", VarType(v.GetImage()) = 8209
  Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
  Dim path : path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName() & ".jpg")
  v.SaveToFile path
  Check progId & ": SaveToFile writes a file", fso.FileExists(path)
  If fso.FileExists(path) Then
    Check progId & ": the file has a JPEG's size", fso.GetFile(path).Size > 623
    fso.DeleteFile path
  End If
  v.OnEndPage
  On Error Resume Next
  v.GenerateRnd 0
  ' VBScript shows E_INVALIDARG as its own run-time error 5.
  Check progId & ": GenerateRnd(0) fails with E_INVALIDARG", Err.Number = 5
  Err.Clear
  v.Number = "abc"
  Check progId & ": Number put abc fails", Err.Number = 5
  Err.Clear
  ' The component counts arguments itself: VBScript shows DISP_E_BADPARAMCOUNT as its error 450.
  v.Number(1) = "5"
  Check progId & ": Number(1) = ""5"" fails with a wrong argument count", Err.Number = 450
  Err.Clear
  v.SaveToFile path, 1
  Check progId & ": SaveToFile with two arguments fails", Err.Number = 450 And Not fso.FileExists(path)
  Err.Clear
  ' Windows would write this name without its trailing dot.
  v.SaveToFile path & "."
  Check progId & ": SaveToFile(name & ""."") fails", Err.Number = 5 And Not fso.FileExists(path)
  Err.Clear
  v.OnStartPage Nothing
  Check progId & ": OnStartPage(Nothing) fails", Err.Number <> 0
  Err.Clear
  v.OnStartPage fso
  Check progId & ": OnStartPage with no page context: E_NOINTERFACE", Err.Number = &H80004002
  Check progId & ": its source is the ProgID", Err.Source = "Veltrano.Vexorin.2"
  Check progId & ": its description", Err.Description = "Can't obtain ScriptingContext"
  Err.Clear
  On Error GoTo 0
  Set v = Nothing
Next

' The number comes from the system's generator: a tight loop repeats almost nothing.
Dim r : Set r = CreateObject("Veltrano.Vexorin")
Dim seen : Set seen = CreateObject("Scripting.Dictionary")
Dim i
For i = 1 To 1000
  seen(CStr(r.GenerateRnd(8))) = True
Next
WScript.Echo "     distinct numbers in 1000 tight GenerateRnd(8) calls: " & seen.Count
Check "1000 tight GenerateRnd(8) calls: at least 995 distinct", seen.Count >= 995
Set r = Nothing

If failures = 0 Then WScript.Echo "ALL CHECKS PASSED"
