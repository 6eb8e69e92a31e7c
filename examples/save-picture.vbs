' Saves a picture from the command line and prints its number:
'   cscript //nologo save-picture.vbs <file.jpg> [digits] [height] [noise 0/1]
Option Explicit
Dim args : Set args = WScript.Arguments
If args.Count < 1 Then
  WScript.Echo "usage: cscript //nologo save-picture.vbs <file.jpg> [digits] [height] [noise 0/1]"
  WScript.Quit 2
End If
Dim captcha : Set captcha = CreateObject("Veltrano.Vexorin")
Dim digits : digits = 8
If args.Count > 1 Then digits = CLng(args(1))
captcha.GenerateRnd digits
If args.Count > 2 Then captcha.Height = CLng(args(2))
If args.Count > 3 Then captcha.Noise = CLng(args(3))
captcha.SaveToFile args(0)
WScript.Echo captcha.Number
