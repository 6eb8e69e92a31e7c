<%@ Language="VBScript" %>
<% Option Explicit %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Please type the number</title>
<!-- The widget's one file, from the pinned npm package (the release carries it beside this page). -->
<script async defer src="altcha.js" type="module"></script>
</head>
<body>
<form method="post" action="check.asp">
  <p><img src="captcha-image.asp?<%= Server.URLEncode(CStr(Timer)) %>" alt="A number to type; the same number is spoken below"></p>
  <p>Listen to the number instead:
    <audio controls preload="none" src="captcha-audio.asp?<%= Server.URLEncode(CStr(Timer)) %>"
           aria-label="The number, spoken">Your browser cannot play the spoken number.</audio></p>
  <p><label>The number in the picture: <input name="answer" autocomplete="off"></label></p>
  <!-- Proof of work, solved in the background as the page loads: sends the field "altcha". -->
  <altcha-widget challenge="captcha-challenge.asp" name="altcha" auto="onload"></altcha-widget>
  <p><button type="submit">Send</button></p>
</form>
</body>
</html>
