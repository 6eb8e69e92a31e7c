' The spoken alternative by name, from VBScript. Passes only when it prints the sentinel.
Option Explicit
WScript.Echo "audio.vbs"  ' a first line before the component is touched
Dim failures : failures = 0
Sub Check(what, ok)
  If ok Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim progId
For Each progId In Array("Veltrano.VexorinAudio", "Veltrano.VexorinAudio.1")
  Dim a : Set a = CreateObject(progId)
  Check progId & ": defaults", a.Number = "" And a.Noise = 2
  ' As a page does it: the number the picture showed.
  Dim picture : Set picture = CreateObject("Veltrano.Vexorin")
  picture.GenerateRnd 6
  a.Number = picture.Number
  Check progId & ": Number from the picture's", a.Number = picture.Number And Len(a.Number) = 6
  a.Noise = 0
  Check progId & ": Noise put", a.Noise = 0
  Check progId & ": GetAudio is a byte array", VarType(a.GetAudio()) = 8209
  Dim path : path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName() & ".wav")
  a.SaveToFile path
  Check progId & ": SaveToFile writes a file", fso.FileExists(path)
  If fso.FileExists(path) Then
    ' Six digits and five gaps of at least 250 ms: well over two seconds of 16-bit samples at 16 kHz.
    Check progId & ": the file has the size of six spoken digits", fso.GetFile(path).Size > 44 + 2 * 32000
    Dim stream : Set stream = fso.OpenTextFile(path, 1)
    Check progId & ": the file is a RIFF file", stream.Read(4) = "RIFF"
    stream.Close
    fso.DeleteFile path
  End If
  On Error Resume Next
  a.Number = "12a"
  ' VBScript shows E_INVALIDARG as its own run-time error 5.
  Check progId & ": Number put 12a fails with E_INVALIDARG", Err.Number = 5
  Check progId & ": the number is kept", a.Number = picture.Number
  Err.Clear
  a.Number = "1234567890"
  Check progId & ": ten digits fail", Err.Number = 5
  Err.Clear
  a.Noise = 7
  Check progId & ": Noise 7 fails", Err.Number = 5 And a.Noise = 0
  Err.Clear
  a.SaveToFile ""
  Check progId & ": SaveToFile('') fails", Err.Number = 5
  Err.Clear
  a.Number(1) = "5"
  Check progId & ": Number(1) = ""5"" fails with a wrong argument count", Err.Number = 450
  Err.Clear
  a.SaveToFile path & ".", 1
  Check progId & ": SaveToFile with two arguments fails", Err.Number = 450 And Not fso.FileExists(path & ".")
  Err.Clear
  Dim fresh : Set fresh = CreateObject(progId)
  Dim sound : sound = fresh.GetAudio()
  Check progId & ": GetAudio without a number fails with E_FAIL", Err.Number = &H80004005
  Err.Clear
  On Error GoTo 0
  Set a = Nothing
  Set fresh = Nothing
Next

If failures = 0 Then WScript.Echo "ALL CHECKS PASSED"
