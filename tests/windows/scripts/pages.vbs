' The example pages' logic (examples/captcha.inc) against stand-ins for the host's Session,
' Response, Server and Application objects: serve, check, replay refused, empty refused, a stale
' picture refused, checks refused for a while after too many wrong answers; the form's check in its
' order (the lock before the proof of work, a failed proof of work counted as a failed check); and
' a picture or sound that cannot be made leaves the session and the response untouched.
Dim failures : failures = 0
Sub Check(what, ok)
  If ok Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

Class FakeSession
  Public SessionID
  Private items
  Private Sub Class_Initialize()
    Set items = CreateObject("Scripting.Dictionary")
  End Sub
  Public Default Property Get Item(key)
    If items.Exists(key) Then
      Item = items(key)
    Else
      Item = Empty
    End If
  End Property
  Public Property Let Item(key, value)
    items(key) = value
  End Property
End Class

Class FakeResponse
  Public ContentType
  Public Status
  Public Expires
  Public CacheControl
  Public Headers
  Public WrittenType
  Public Writes
  Private Sub Class_Initialize()
    Headers = ""
    Writes = 0
  End Sub
  Public Sub AddHeader(name, value)
    Headers = Headers & name & ": " & value & vbLf
  End Sub
  Public Text
  Public Sub Clear()
    Text = ""
    Writes = 0
  End Sub
  Public Sub Write(data)
    Text = Text & data
    Writes = Writes + 1
  End Sub
  Public Sub BinaryWrite(data)
    WrittenType = VarType(data)
    Writes = Writes + 1
  End Sub
End Class

' Stands in for the component's classes where a test must see or steer a call: a picture or sound
' that fails to be made, a proof of work whose answer the test chooses (and whose calls it counts).
Class FailingObject
  Public Number
  Public Height
  Public Noise
  Public Sub GenerateRnd(digits)
    Number = "123456"
  End Sub
  Public Function GetImage()
    Err.Raise &H80004005, "FailingObject", "no picture"
  End Function
  Public Function GetAudio()
    Err.Raise &H80004005, "FailingObject", "no sound"
  End Function
End Class

Class FakeRequest
  Public Function ServerVariables(name)
    ServerVariables = ""
    If name = "REMOTE_ADDR" Then ServerVariables = "198.51.100.4"
  End Function
End Class

Class FakeWork
  Public Secret
  Public Store
  Public Answer
  Public Fails
  Public Verified
  Private Sub Class_Initialize()
    Secret = Empty
    Store = Empty
    Verified = 0
    Fails = False
  End Sub
  Public Function Verify(payload, binding)
    Verified = Verified + 1
    If Fails Then Err.Raise &H80004005, "FakeWork", "the platform failed"
    Verify = Answer
  End Function
End Class

Class FakeServer
  Public Failing   ' "Veltrano.Vexorin" or "Veltrano.VexorinAudio": that class fails to make its bytes
  Public Work      ' a FakeWork handed out for "Veltrano.VexorinWork", or Nothing for the real one
  Private Sub Class_Initialize()
    Failing = ""
    Set Work = Nothing
  End Sub
  Public Function CreateObject(progId)
    If progId = Failing Then
      Set CreateObject = New FailingObject
    ElseIf progId = "Veltrano.VexorinWork" And Not (Work Is Nothing) Then
      Set CreateObject = Work
    Else
      Set CreateObject = WScript.CreateObject(progId)
    End If
  End Function
End Class
Dim Server : Set Server = New FakeServer
Dim Application : Set Application = New FakeSession

' The pages' include (examples/captcha.inc, without its <% %> brackets) is put in front of this
' file by pages_test.sh, as the host would include it.

Dim session, response, number
Set session = New FakeSession

Set response = New FakeResponse
ServeCaptchaImage session, response, 6
number = session(CaptchaSessionKey)
Check "a 6-digit number is stored", Len(number) = 6
Check "the content type is JPEG", response.ContentType = "image/jpeg"
Check "the picture is sent once as a byte array", response.Writes = 1 And response.WrittenType = 8209
Check "browsers may not cache it", InStr(response.CacheControl, "no-store") > 0 And response.Expires = -1
Check "proxies may not cache it", InStr(response.Headers, "Pragma: no-cache") > 0

Set response = New FakeResponse
ServeCaptchaAudio session, response
Check "the audio is a WAV", response.ContentType = "audio/wav"
Check "it is sent once as a byte array", response.Writes = 1 And response.WrittenType = 8209
Check "browsers and proxies may not cache it", InStr(response.CacheControl, "no-store") > 0 And _
  response.Expires = -1 And InStr(response.Headers, "Pragma: no-cache") > 0
Check "speaking leaves the number to answer", session(CaptchaSessionKey) = number
Set response = New FakeResponse
ServeCaptchaAudio New FakeSession, response
Check "without a served picture: 404 and nothing sent", response.Status = "404 Not Found" And response.Writes = 0
Dim play
For play = 2 To CaptchaMaxPlays
  Set response = New FakeResponse
  ServeCaptchaAudio session, response
  Check "play " & play & " is sent", response.Writes = 1
Next
Check "the plays so far leave the number to answer", session(CaptchaSessionKey) = number
Set response = New FakeResponse
ServeCaptchaAudio session, response
Check "one play too many: 404, nothing sent", response.Status = "404 Not Found" And response.Writes = 0
Check "and the number is forgotten", IsEmpty(session(CaptchaSessionKey))
Check "so no answer passes", Not CheckCaptchaAnswer(session, number)

ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
Set response = New FakeResponse
ServeCaptchaAudio session, response
Check "a new picture may be spoken again", response.Writes = 1

Check "the right answer, with blanks around it, passes", CheckCaptchaAnswer(session, "  " & number & " ")
Check "the same answer again is refused", Not CheckCaptchaAnswer(session, number)

ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
Check "a wrong answer fails", Not CheckCaptchaAnswer(session, "x" & number)
Check "and uses up the picture", Not CheckCaptchaAnswer(session, number)

ServeCaptchaImage session, New FakeResponse, 6
Check "an empty answer never matches", Not CheckCaptchaAnswer(session, "")
ServeCaptchaImage session, New FakeResponse, 6
Check "a missing answer never matches", Not CheckCaptchaAnswer(session, Empty)
Check "without a served picture nothing matches", Not CheckCaptchaAnswer(New FakeSession, "")

' The proof of work's pages: the challenge bound to the session, sent uncacheable; no payload passes
' unsolved (the widget's solving is the browser test's).
Dim workSession : Set workSession = New FakeSession
workSession.SessionID = "481516"
Set response = New FakeResponse
ServeWorkChallenge workSession, New FakeRequest, response
Check "the challenge is JSON", response.ContentType = "application/json" And Left(response.Text, 13) = "{""parameters"""
Check "bound to the session", InStr(response.Text, """session"":""481516""}") > 0
Check "and not to be cached", InStr(response.CacheControl, "no-store") > 0 And response.Expires = -1
Check "an empty payload fails", Not CheckWork(workSession, "")
Check "a missing payload fails", Not CheckWork(workSession, Empty)
Check "a payload of nothing fails", Not CheckWork(workSession, "e30=")
Check "a first challenge is at the base price", InStr(response.Text, """attempts"":4096,") > 0
Dim ask
For ask = 1 To 8
  Set response = New FakeResponse
  ServeWorkChallenge workSession, New FakeRequest, response
Next
Check "an address that keeps asking pays more", InStr(response.Text, """attempts"":8192,") > 0

' A stored number lives CaptchaLifetimeMinutes: the picture's time is set back as the clock would.
Set session = New FakeSession
ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
session(CaptchaIssuedKey) = CDbl(Now) - (CaptchaLifetimeMinutes - 1) / 1440
Check "a picture a minute short of its lifetime is still good", CheckCaptchaAnswer(session, number)
ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
session(CaptchaIssuedKey) = CDbl(Now) - (CaptchaLifetimeMinutes + 1) / 1440
Check "a picture past its lifetime fails like a wrong answer", Not CheckCaptchaAnswer(session, number)
Check "and is forgotten", IsEmpty(session(CaptchaSessionKey))

' CaptchaMaxWrong wrong answers in a row lock the session's checks for CaptchaLockMinutes.
Dim attempt
Set session = New FakeSession
For attempt = 1 To CaptchaMaxWrong - 1
  ServeCaptchaImage session, New FakeResponse, 6
  CheckCaptchaAnswer session, "x"
Next
ServeCaptchaImage session, New FakeResponse, 6
Check "one wrong answer short of the limit, the right one passes", CheckCaptchaAnswer(session, session(CaptchaSessionKey))
For attempt = 1 To CaptchaMaxWrong
  ServeCaptchaImage session, New FakeResponse, 6
  CheckCaptchaAnswer session, "x"
Next
ServeCaptchaImage session, New FakeResponse, 6
Check "after the limit even the right answer is refused", Not CheckCaptchaAnswer(session, session(CaptchaSessionKey))
session(CaptchaLockedUntilKey) = CDbl(Now) - 1 / 86400
ServeCaptchaImage session, New FakeResponse, 6
Check "once the lock has run out the right answer passes", CheckCaptchaAnswer(session, session(CaptchaSessionKey))

' A picture or a sound that cannot be made: the error reaches the page before anything was stored
' or sent, so no number is kept that no picture showed, no play is counted, and the server's error
' page is not labelled as a JPEG or a WAV.
Dim raised
Set session = New FakeSession
Set response = New FakeResponse
Server.Failing = "Veltrano.Vexorin"
On Error Resume Next
ServeCaptchaImage session, response, 6
raised = Err.Number
On Error GoTo 0
Check "a failed picture raises its error", raised <> 0
Check "  and stores no number", IsEmpty(session(CaptchaSessionKey))
Check "  and sets no header and writes nothing", IsEmpty(response.ContentType) And response.Headers = "" And response.Writes = 0
Server.Failing = ""
ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
Server.Failing = "Veltrano.VexorinAudio"
Set response = New FakeResponse
On Error Resume Next
ServeCaptchaAudio session, response
raised = Err.Number
On Error GoTo 0
Server.Failing = ""
Check "a failed sound raises its error", raised <> 0
Check "  and counts no play", session(CaptchaPlaysKey) = 0
Check "  and sets no header and writes nothing", IsEmpty(response.ContentType) And response.Headers = "" And response.Writes = 0
Check "  and leaves the number to answer", session(CaptchaSessionKey) = number

' The form's whole check (check.asp): its outcome for each case, with a proof of work whose answer
' the test chooses.
Dim work : Set work = New FakeWork
Set Server.Work = work
Set session = New FakeSession
session.SessionID = "2718"
ServeCaptchaImage session, New FakeResponse, 6
work.Answer = True
Check "solved work and the right number: passed", CheckCaptchaForm(session, "p", session(CaptchaSessionKey)) = "passed"
ServeCaptchaImage session, New FakeResponse, 6
Check "solved work and a wrong number: wrong", CheckCaptchaForm(session, "p", "x") = "wrong"
ServeCaptchaImage session, New FakeResponse, 6
number = session(CaptchaSessionKey)
work.Answer = False
Check "work that did not verify: try again, not a wrong number", CheckCaptchaForm(session, "p", number) = "work"
Check "  and the picture is used up", IsEmpty(session(CaptchaSessionKey))
ServeCaptchaImage session, New FakeResponse, 6
work.Fails = True
Check "a failure of the component while verifying: try again", CheckCaptchaForm(session, "p", session(CaptchaSessionKey)) = "work"
work.Fails = False
' Failed proofs of work alone, on a fresh session, reach the lock.
Set session = New FakeSession
For attempt = 1 To CaptchaMaxWrong
  ServeCaptchaImage session, New FakeResponse, 6
  CheckCaptchaForm session, "", session(CaptchaSessionKey)
Next
Check CaptchaMaxWrong & " failed proofs of work lock the session", CaptchaLocked(session)
work.Answer = True
ServeCaptchaImage session, New FakeResponse, 6
Dim verifiedBefore : verifiedBefore = work.Verified
Check "a locked session is refused as locked, even with solved work and the right number", _
  CheckCaptchaForm(session, "p", session(CaptchaSessionKey)) = "locked"
Check "  before its proof of work is verified (the payload is not spent)", work.Verified = verifiedBefore
Check "  and the picture is used up", IsEmpty(session(CaptchaSessionKey))

' The secret and the farm's store come from the site's configuration (Application), and only when set.
Application("CaptchaWorkSecret") = "farm secret"
Application("CaptchaWorkStore") = "redis://:pw@10.0.0.5:6379/0"
Set session = New FakeSession
CheckWork session, "p"
Check "the proof of work's secret is Application(""CaptchaWorkSecret"")", work.Secret = "farm secret"
Check "its store is Application(""CaptchaWorkStore"")", work.Store = "redis://:pw@10.0.0.5:6379/0"
Set work = New FakeWork
Set Server.Work = work
Application("CaptchaWorkSecret") = Empty
Application("CaptchaWorkStore") = Empty
CheckWork session, "p"
Check "without one, no secret is set (the component's own key)", IsEmpty(work.Secret)
Check "  nor a store (each process remembers alone)", IsEmpty(work.Store)
Set Server.Work = Nothing

If failures = 0 Then WScript.Echo "ALL CHECKS PASSED"
