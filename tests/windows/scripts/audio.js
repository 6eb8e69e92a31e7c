// The spoken alternative by name, from JScript. Passes only when it prints the sentinel.
WScript.Echo("audio.js");  // a first line before the component is touched
var failures = 0;
function check(what, ok) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}
function hresult(e) { return (e.number < 0 ? e.number + 0x100000000 : e.number); }

var ids = ["Veltrano.VexorinAudio", "Veltrano.VexorinAudio.1"];
var fso = new ActiveXObject("Scripting.FileSystemObject");
for (var i = 0; i < ids.length; i++) {
  var id = ids[i];
  var a = new ActiveXObject(id);
  check(id + ": defaults", a.Number === "" && a.Noise == 2);
  a.Number = "000915";
  a.Noise = 4;
  check(id + ": Number and Noise", a.Number === "000915" && a.Noise == 4);
  // GetAudio is checked from VBScript (VarType) and C++: this JScript engine stops the script
  // silently when it receives a byte array.
  var path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName() + ".wav");
  a.SaveToFile(path);
  check(id + ": SaveToFile writes a WAV-sized file", fso.FileExists(path) && fso.GetFile(path).Size > 44 + 2 * 32000);
  if (fso.FileExists(path)) fso.DeleteFile(path);
  var bad = ["", "12 4", "-1", "1234567890"];
  for (var k = 0; k < bad.length; k++) {
    try { a.Number = bad[k]; check(id + ": Number '" + bad[k] + "' fails", false); }
    catch (e) { check(id + ": Number '" + bad[k] + "' fails with E_INVALIDARG", hresult(e) == 0x80070057); }
  }
  check(id + ": the number is kept", a.Number === "000915");
  try { a.Noise = -1; check(id + ": Noise -1 fails", false); }
  catch (e) { check(id + ": Noise -1 fails with E_INVALIDARG", hresult(e) == 0x80070057 && a.Noise == 4); }
  try { a.SaveToFile(""); check(id + ": SaveToFile('') fails", false); }
  catch (e) { check(id + ": SaveToFile('') fails with E_INVALIDARG", hresult(e) == 0x80070057); }
  var fresh = new ActiveXObject(id);
  var target = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName() + ".wav");
  try { fresh.SaveToFile(target); check(id + ": SaveToFile without a number fails", false); }
  catch (e) { check(id + ": SaveToFile without a number fails with E_FAIL", hresult(e) == 0x80004005 && !fso.FileExists(target)); }
  a = null;
  fresh = null;
}
if (failures == 0) WScript.Echo("ALL CHECKS PASSED");
