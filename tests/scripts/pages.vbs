' The example pages' logic (examples/captcha.inc) against stand-ins for the host's Session,
' Request/Response and Server objects: serve, check, replay refused, empty refused, a stale picture
' refused, and checks refused for a while after too many wrong answers.
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
  Public Sub Write(data)
    Text = Text & data
    Writes = Writes + 1
  End Sub
  Public Sub BinaryWrite(data)
    WrittenType = VarType(data)
    Writes = Writes + 1
  End Sub
End Class

Class FakeServer
  Public Function CreateObject(progId)
    Set CreateObject = WScript.CreateObject(progId)
  End Function
End Class
Dim Server : Set Server = New FakeServer

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
ServeWorkChallenge workSession, response
Check "the challenge is JSON", response.ContentType = "application/json" And Left(response.Text, 13) = "{""parameters"""
Check "bound to the session", InStr(response.Text, """data"":{""session"":""481516""}") > 0
Check "and not to be cached", InStr(response.CacheControl, "no-store") > 0 And response.Expires = -1
Check "an empty payload fails", Not CheckWork(workSession, "")
Check "a missing payload fails", Not CheckWork(workSession, Empty)
Check "a payload of nothing fails", Not CheckWork(workSession, "e30=")

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

If failures = 0 Then WScript.Echo "ALL CHECKS PASSED"
