' A page's own store object in VBScript (here over a Dictionary; a site's would INSERT on a primary
' key through ADO), given to two objects as two worker processes would each have one: the payload
' verifies at the first and is refused as replayed at the second.
'   cscript page_store.vbs SECRET PAYLOAD     exits 42 when every check held (Wine's cscript exits 0
'                                             after a run-time error, so 0 cannot mean success)
Class PageStore
  Private keys
  Private Sub Class_Initialize
    Set keys = CreateObject("Scripting.Dictionary")
  End Sub
  Public Function AddIfAbsent(key, seconds)
    If keys.Exists(key) Then
      AddIfAbsent = False
    Else
      keys.Add key, seconds
      AddIfAbsent = True
    End If
  End Function
  Public Property Get Count
    Count = keys.Count
  End Property
End Class

Function Worker(store)
  Dim work
  Set work = CreateObject("Veltrano.VexorinWork")
  work.Secret = WScript.Arguments(0)
  work.Cost = 100
  Set work.Store = store
  Set Worker = work
End Function

Dim store, first, second, firstVerdict, secondVerdict
Set store = New PageStore
Set first = Worker(store)
Set second = Worker(store)
firstVerdict = first.Verify(WScript.Arguments(1))
secondVerdict = second.Verify(WScript.Arguments(1))
WScript.Echo "first " & firstVerdict & " " & first.Reason & ", second " & secondVerdict & " " & second.Reason & _
             ", keys " & store.Count
If firstVerdict And Not secondVerdict And second.Reason = "replayed" And store.Count = 1 Then
  WScript.Quit 42
End If
WScript.Quit 1
