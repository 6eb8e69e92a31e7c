// The proof-of-work class from JScript, for the browser test: a page's two steps.
// BINDING comes in unescape()'s form (%XX, %uXXXX), so that any script survives the command line.
//   cscript work.js challenge SECRET BINDING       prints "work.js", then the challenge
//   cscript work.js dearest SECRET BINDING         the same, at the price of a client's 33rd ask: MaxCost
//   cscript work.js verify SECRET BINDING PAYLOAD   prints "work.js", then Reason after a first
//                                                   and a second Verify in this process
WScript.Echo("work.js");  // a first line before the component is touched
var args = WScript.Arguments;
var work = new ActiveXObject("Veltrano.VexorinWork");
work.Secret = args(1);
var binding = unescape(args(2));
if (args(0) == "challenge") {
  WScript.Echo(work.CreateChallenge(binding));
} else if (args(0) == "dearest") {
  // A client that asked 33 times: its price doubled three times, to the default MaxCost.
  var last;
  for (var i = 0; i < 33; ++i) last = work.CreateChallenge(binding, "192.0.2.7");
  WScript.Echo(last);
} else {
  var first = work.Verify(args(3), binding);
  WScript.Echo(work.Reason + " " + first);
  var second = work.Verify(args(3), binding);
  WScript.Echo(work.Reason + " " + second);
}
