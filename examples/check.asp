<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Check</title></head>
<body>
<%
' A locked session first, then the proof of work, then the number: each failure says what to do.
Select Case CheckCaptchaForm(Session, Request.Form("altcha"), Request.Form("answer"))
Case "passed"
%>
  <p>Thank you: the number was right.</p>
<% Case "locked" %>
  <p>Too many wrong answers. Please wait a minute, then <a href="form.asp">try a new picture</a>.</p>
<% Case "work" %>
  <p>Your browser did not finish the check that runs in the background. Please <a href="form.asp">try again</a>.</p>
<% Case Else %>
  <p>That was not the number. <a href="form.asp">Try a new picture</a>.</p>
<% End Select %>
</body>
</html>
