// Every member of the component by name, from JScript. Passes only when it prints the sentinel.
WScript.Echo("members.js");  // a first line before the component is touched
var failures = 0;
function check(what, ok) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}
function hresult(e) { return (e.number < 0 ? e.number + 0x100000000 : e.number); }

var ids = ["Veltrano.Vexorin", "Veltrano.Vexorin.2"];
for (var i = 0; i < ids.length; i++) {
  var id = ids[i];
  var v = new ActiveXObject(id);
  check(id + ": defaults", v.Height == 30 && v.Noise == 0 && v.Number.length == 8 && v.GetWidth() == 120);
  var n = v.GenerateRnd(9);
  check(id + ": GenerateRnd(9) in range", n >= 0 && n < 1000000000 && v.Number.length == 9);
  v.Number = "007";
  check(id + ": Number put keeps leading zeros", v.Number == "007" && v.GetWidth() == 45);
  v.Height = 57;
  v.Noise = 1;
  check(id + ": Height and Noise", v.Height == 57 && v.Noise == 1 && v.GetWidth() == 85);
  // GetImage is checked from VBScript (VarType) and C++: this JScript engine stops the script
  // silently when it receives a byte array.
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var path = fso.BuildPath(fso.GetSpecialFolder(2), fso.GetTempName() + ".jpg");
  v.SaveToFile(path);
  check(id + ": SaveToFile writes a JPEG-sized file", fso.FileExists(path) && fso.GetFile(path).Size > 623);
  if (fso.FileExists(path)) fso.DeleteFile(path);
  try { v.GenerateRnd(0); check(id + ": GenerateRnd(0) fails", false); }
  catch (e) { check(id + ": GenerateRnd(0) fails with E_INVALIDARG", hresult(e) == 0x80070057); }
  try { v.SaveToFile(""); check(id + ": SaveToFile('') fails", false); }
  catch (e) { check(id + ": SaveToFile('') fails with E_INVALIDARG", hresult(e) == 0x80070057); }
  try { v.OnStartPage(fso); check(id + ": OnStartPage without a page context fails", false); }
  catch (e) {
    check(id + ": OnStartPage without a page context: E_NOINTERFACE", hresult(e) == 0x80004002);
    check(id + ": its description", e.description == "Can't obtain ScriptingContext");
  }
  v.OnEndPage();
  v = null;
}
if (failures == 0) WScript.Echo("ALL CHECKS PASSED");
