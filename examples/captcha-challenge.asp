<%@ Language="VBScript" %>
<% Option Explicit %>
<!--#include file="captcha.inc"-->
<%
' The widget's challenge: <altcha-widget challenge="captcha-challenge.asp"> on the form page.
ServeWorkChallenge Session, Request, Response
%>
