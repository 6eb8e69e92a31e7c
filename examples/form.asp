<%@ Language="VBScript" %>
<% Option Explicit %>
<!DOCTYPE html>
<html>
<head><title>Please type the number</title></head>
<body>
<form method="post" action="check.asp">
  <p><img src="captcha-image.asp?<%= Server.URLEncode(CStr(Timer)) %>" alt="A number to type"></p>
  <p><label>The number in the picture: <input name="answer" autocomplete="off"></label></p>
  <p><button type="submit">Send</button></p>
</form>
</body>
</html>
