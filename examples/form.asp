<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<%
' A contact form that checks itself: it posts to this page, so a wrong number shows the form again
' with what the visitor typed and a new picture. Your own form needs the pieces marked "captcha".
Dim outcome, visitorName, visitorMessage
outcome = ""
If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
  outcome = CheckCaptchaForm(Session, Request.Form("altcha"), Request.Form("answer"))
  visitorName = Request.Form("name") & ""
  visitorMessage = Request.Form("message") & ""
  ' Passed: here the site would send or store the message.
End If
%>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Send us a message</title>
<style>
  body { font: 1rem/1.5 system-ui, sans-serif; color: #222; margin: 0; }
  main { max-width: 30rem; margin: 0 auto; padding: 1rem; }
  h1 { font-size: 1.5rem; margin: 0 0 .25rem; }
  label { display: block; margin: .75rem 0 .25rem; font-weight: 600; }
  input, textarea { font: inherit; width: 100%; box-sizing: border-box; padding: .4rem; }
  button { font: inherit; padding: .4rem 1rem; }
  .captcha { display: flex; flex-wrap: wrap; align-items: center; gap: .5rem; }
  .captcha img { border: 1px solid #999; }
  .note { padding: .5rem .75rem; border-left: .25rem solid #b00; background: #fdeeee; }
  .done { border-left-color: #080; background: #eefbee; }
  altcha-widget { display: block; margin: 1rem 0; }
</style>
<!-- captcha: the widget's one file, from the pinned npm package (the release carries it beside this page). -->
<script async defer src="altcha.js" type="module"></script>
</head>
<body>
<main>
<h1>Send us a message</h1>
<% If outcome = "passed" Then %>
  <p class="note done">Thank you: the number was right and your message was sent.</p>
</main>
<% Else %>
<p>Type the number you see in the picture (or hear with the player), then press Send.</p>
<noscript><p class="note">This form needs JavaScript: please turn it on for this site.</p></noscript>
<p class="note" id="needs-https" hidden>This form can only be sent over HTTPS. The site's owner must serve it at an https:// address.</p>
<p class="note" id="no-widget" hidden>The form's check could not load (the site's file altcha.js is missing). Please tell the site's owner.</p>
<% If outcome = "wrong" Then %>
<p class="note">That was not the number. Here is a new picture; what you typed is kept.</p>
<% ElseIf outcome = "locked" Then %>
<p class="note">Too many wrong answers. Please wait a minute, then type the number of the new picture.</p>
<% ElseIf outcome = "work" And Request.Form("altcha") = "" Then %>
<p class="note">The form arrived without the check your browser runs in the background, which needs JavaScript. Turn JavaScript on for this site and send again; if it is on, please tell the site's owner.</p>
<% ElseIf outcome = "work" Then %>
<p class="note">The check your browser ran in the background was not accepted (it may have expired). Please send the form again.</p>
<% End If %>
<form method="post" action="form.asp">
  <label for="name">Your name</label>
  <input id="name" name="name" value="<%= Server.HTMLEncode(visitorName & "") %>">
  <label for="message">Your message</label>
  <textarea id="message" name="message" rows="4"><%= Server.HTMLEncode(visitorMessage & "") %></textarea>
  <!-- captcha: the picture, a new one on request, the same number spoken, the visitor's answer. -->
  <label for="answer">The number in the picture</label>
  <div class="captcha">
    <img id="picture" src="captcha-image.asp?<%= Server.URLEncode(CStr(Timer)) %>" width="180" height="60"
         alt="A number to type; the player below speaks the same number">
    <button type="button" id="new-picture" hidden>New picture</button>
  </div>
  <audio id="sound" controls preload="none" src="captcha-audio.asp?<%= Server.URLEncode(CStr(Timer)) %>"
         aria-label="The number, spoken">Your browser cannot play the spoken number.</audio>
  <input id="answer" name="answer" inputmode="numeric" autocomplete="off" required>
  <!-- captcha: proof of work, solved in the background from the page's load; sends the field "altcha". -->
  <altcha-widget challenge="captcha-challenge.asp" name="altcha" auto="onload"></altcha-widget>
  <button type="submit">Send</button>
</form>
</main>
<script>
  // captcha: a new picture gives a new number, so the sound must be asked for again too.
  var form = document.querySelector('form'), widget = document.querySelector('altcha-widget');
  var newPicture = document.getElementById('new-picture');
  newPicture.hidden = false;
  newPicture.onclick = function () {
    var fresh = '?' + Date.now();
    document.getElementById('picture').src = 'captcha-image.asp' + fresh;
    document.getElementById('sound').src = 'captcha-audio.asp' + fresh;
  };
  // The widget holds the form back while it works; Send pressed early sends once the work is done.
  var sendWhenDone = false;
  form.addEventListener('invalid', function (event) {
    if (widget.contains(event.target)) sendWhenDone = true;
  }, true);
  widget.addEventListener('statechange', function (event) {
    if (sendWhenDone && event.detail && event.detail.state === 'verified') {
      sendWhenDone = false;
      form.requestSubmit();
    }
  });
  // The widget's words for this form: its own "Verified" reads as if the form were done.
  customElements.whenDefined('altcha-widget').then(function () {
    var words = { label: 'Browser check', verifying: 'Browser check running...', verified: 'Browser check done' };
    $altcha.i18n.set('en', Object.assign({}, $altcha.i18n.get('en'), words));
  });
  // Failures only the site can fix, said as such.
  if (!window.isSecureContext) document.getElementById('needs-https').hidden = false;
  window.addEventListener('load', function () {
    if (!customElements.get('altcha-widget')) document.getElementById('no-widget').hidden = false;
  });
</script>
<% End If %>
</body>
</html>
