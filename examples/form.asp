<%@ Language="VBScript" %>
<% Option Explicit %>
<!DOCTYPE html>
<html>
<head><title>Please type the number</title>
<!-- The widget's one file, copied from the pinned npm package with its licence (see the README). -->
<script async defer src="altcha.js" type="module"></script>
</head>
<body>
<form method="post" action="check.asp">
  <p><img src="captcha-image.asp?<%= Server.URLEncode(CStr(Timer)) %>" alt="A number to type; the same number is spoken below"></p>
  <p>Listen to the number instead:
    <audio controls preload="none" src="captcha-audio.asp?<%= Server.URLEncode(CStr(Timer)) %>"
           aria-label="The number, spoken">Your browser cannot play the spoken number.</audio></p>
  <p><label>The number in the picture: <input name="answer" autocomplete="off"></label></p>
  <!-- Proof of work, solved in the background: sends the field "altcha". -->
  <altcha-widget challenge="captcha-challenge.asp" name="altcha"></altcha-widget>
  <p><button type="submit">Send</button></p>
</form>
</body>
</html>
