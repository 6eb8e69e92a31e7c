<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<!DOCTYPE html>
<html>
<head><title>Check</title></head>
<body>
<% If CheckCaptchaAnswer(Session, Request.Form("answer")) Then %>
  <p>Thank you: the number was right.</p>
<% Else %>
  <p>That was not the number. <a href="form.asp">Try a new picture</a>.</p>
<% End If %>
</body>
</html>
