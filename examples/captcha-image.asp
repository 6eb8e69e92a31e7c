<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<%
' The picture: <img src="captcha-image.asp"> on the form page.
ServeCaptchaImage Session, Response, 6
%>
