// The proof-of-work class from JScript, for the browser test: a page's two steps.
// BINDING comes in unescape()'s form (%XX, %uXXXX), so that any script survives the command line.
//   cscript work.js challenge SECRET BINDING       prints "work.js", then the challenge
//   cscript work.js raised SECRET BINDING          the same, at the price of a client's ninth ask
//   cscript work.js verify SECRET BINDING PAYLOAD   prints "work.js", then Reason after a first
//                                                   and a second Verify in this process
WScript.Echo("work.js");  // a first line before the component is touched
var args = WScript.Arguments;
var work = new ActiveXObject("Veltrano.VexorinWork");
work.Secret = args(1);
var binding = unescape(args(2));
if (args(0) == "challenge") {
  WScript.Echo(work.CreateChallenge(binding));
} else if (args(0) == "raised") {
  // A client that asked nine times: the ninth challenge costs twice the base.
  var last;
  for (var i = 0; i < 9; ++i) last = work.CreateChallenge(binding, "192.0.2.7");
  WScript.Echo(last);
} else {
  var first = work.Verify(args(3), binding);
  WScript.Echo(work.Reason + " " + first);
  var second = work.Verify(args(3), binding);
  WScript.Echo(work.Reason + " " + second);
}
