<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<%
' The number of the picture, spoken: <audio src="captcha-audio.asp"> on the form page.
ServeCaptchaAudio Session, Response
%>
