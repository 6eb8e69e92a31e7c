<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<!DOCTYPE html>
<html>
<head><title>Check</title></head>
<body>
<%
' Both checks run every time: each forgets what it checked, right or wrong.
Dim workDone, numberRight
workDone = CheckWork(Session, Request.Form("altcha"))
numberRight = CheckCaptchaAnswer(Session, Request.Form("answer"))
If workDone And numberRight Then
%>
  <p>Thank you: the number was right.</p>
<% Else %>
  <p>That was not the number. <a href="form.asp">Try a new picture</a>.</p>
<% End If %>
</body>
</html>
