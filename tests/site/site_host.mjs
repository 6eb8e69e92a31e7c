// A small test host for the example site: serves a directory on 127.0.0.1 as a classic scripting
// server would. Each .asp page is turned into one VBScript file (includes resolved, the page's text
// written through Response.Write) and run by Wine's cscript with the registered DLL; its Request,
// Response, Session, Server and Application are the host's own classes, written in VBScript in front
// of the page. Sessions are kept by cookie between requests, and the store is open to the test.
// Pages run one at a time, as a session's requests do.
//
// What a page does reaches the host as lines on cscript's standard output, each sent at once, so
// that what a page did before a run-time error counts, as on a real server: STATUS, TYPE, HEADER,
// SESSION and APPLICATION (a value set), WRITE (text), CLEAR, BINARY (bytes, which the script posts to the
// host over HTTP first: Wine's VBScript cannot read a byte array, its WinHttp can send one) and END.
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import crypto from 'node:crypto';
import { execFile } from 'node:child_process';

const staticTypes = { '.js': 'text/javascript', '.html': 'text/html', '.jpg': 'image/jpeg', '.css': 'text/css',
                      '.txt': 'text/plain' };

// The page's text, escaped for the protocol's one-line records.
const decode = (text) => text.replace(/%u([0-9A-F]{4})|%([0-9A-F]{2})/g,
  (_, u, b) => String.fromCharCode(parseInt(u || b, 16)));

// A VBScript expression for a JavaScript value: strings by ChrW outside printable ASCII.
function literal(value) {
  if (value === null || value === undefined) return 'Empty';
  if (typeof value === 'boolean') return value ? 'True' : 'False';
  if (typeof value === 'number') return Number.isInteger(value) && Math.abs(value) < 2 ** 31 ? `CLng(${value})` : `CDbl(${value.toPrecision(17)})`;
  const parts = [];
  let run = '';
  for (const ch of String(value)) {
    const code = ch.codePointAt(0);
    if (code >= 32 && code < 127) {
      run += ch === '"' ? '""' : ch;
    } else {
      if (run) parts.push(`"${run}"`);
      run = '';
      parts.push(`ChrW(${code})`);
    }
  }
  if (run || parts.length === 0) parts.push(`"${run}"`);
  return parts.join(' & ');
}

// The value a page stored, from its record: VarType, then the text (CStr) of the value.
function stored(type, text) {
  switch (Number(type)) {
    case 0: case 1: return undefined;                 // Empty, Null: the key is forgotten
    case 2: case 3: case 17: return parseInt(text, 10);
    case 4: case 5: case 6: case 7: return Number(text.replace(',', '.'));
    case 11: return text === 'True';
    default: return text;
  }
}

// The host's objects, in VBScript. One line per method where Wine's parser allows nothing else.
const prelude = `
' Session (with its SessionID) and Application alike: values by key, each one set reported at once.
Class HostValues
  Private items
  Public Kind
  Public SessionID
  Private Sub Class_Initialize()
    Set items = CreateObject("Scripting.Dictionary")
  End Sub
  Public Sub Load(key, value)
    items(key) = value
  End Sub
  Public Default Property Get Item(key)
    If items.Exists(key) Then
      Item = items(key)
    Else
      Item = Empty
    End If
  End Property
  Public Property Let Item(key, value)
    items(key) = value
    WScript.Echo Kind & " " & HostEscape(key) & " " & VarType(value) & " " & HostEscape(CStr(value & ""))
  End Property
End Class

Class HostRequest
  Private FormValues
  Private QueryValues
  Private Sub Class_Initialize()
    Set FormValues = CreateObject("Scripting.Dictionary")
    Set QueryValues = CreateObject("Scripting.Dictionary")
  End Sub
  Public Sub SetForm(key, value)
    FormValues(key) = value
  End Sub
  Public Sub SetQuery(key, value)
    QueryValues(key) = value
  End Sub
  Public Function Form(key)
    Form = ""
    If FormValues.Exists(key) Then Form = FormValues(key)
  End Function
  Public Function QueryString(key)
    QueryString = ""
    If QueryValues.Exists(key) Then QueryString = QueryValues(key)
  End Function
  Public RemoteAddr
  Public Method
  Public Function ServerVariables(name)
    ServerVariables = ""
    If UCase(name) = "REMOTE_ADDR" Then ServerVariables = RemoteAddr
    If UCase(name) = "REQUEST_METHOD" Then ServerVariables = Method
  End Function
End Class

Class HostResponse
  Private typeSet
  Private statusSet
  Public Expires
  Public CacheControl
  Public Sub AddHeader(name, value)
    WScript.Echo "HEADER " & HostEscape(name) & " " & HostEscape(value)
  End Sub
  Public Property Let ContentType(value)
    typeSet = value
    WScript.Echo "TYPE " & HostEscape(value)
  End Property
  Public Property Get ContentType()
    ContentType = typeSet
  End Property
  Public Property Let Status(value)
    statusSet = value
    WScript.Echo "STATUS " & HostEscape(value)
  End Property
  Public Property Get Status()
    Status = statusSet
  End Property
  Public Sub Write(text)
    WScript.Echo "WRITE " & HostEscape(CStr(text & ""))
  End Sub
  Public Sub Clear()
    WScript.Echo "CLEAR"
  End Sub
  Public Sub BinaryWrite(bytes)
    Dim request
    Set request = CreateObject("WinHttp.WinHttpRequest.5.1")
    request.Open "POST", HostBytesUrl, False
    request.Send bytes
    WScript.Echo "BINARY " & request.ResponseText
  End Sub
  Public Sub Finish()
    If Not IsEmpty(Expires) Then WScript.Echo "EXPIRES " & Expires
    If Not IsEmpty(CacheControl) Then WScript.Echo "HEADER Cache-Control " & HostEscape(CacheControl)
    WScript.Echo "END"
  End Sub
End Class

Class HostServer
  Public Function CreateObject(progId)
    Set CreateObject = WScript.CreateObject(progId)
  End Function
  Public Function URLEncode(text)
    Dim i, c, out
    out = ""
    For i = 1 To Len(text)
      c = Mid(text, i, 1)
      If InStr(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", c, 0) > 0 Then
        out = out & c
      ElseIf c = " " Then
        out = out & "+"
      Else
        out = out & "%" & Right("0" & Hex(Asc(c) And 255), 2)
      End If
    Next
    URLEncode = out
  End Function
  Public Function HTMLEncode(text)
    HTMLEncode = Replace(Replace(Replace(Replace(text, "&", "&amp;"), "<", "&lt;"), ">", "&gt;"), """", "&quot;")
  End Function
End Class

Function HostEscape(text)
  Dim i, c, code, out
  out = ""
  For i = 1 To Len(text)
    c = Mid(text, i, 1)
    code = Asc(c)  ' Wine's VBScript has no AscW: the pages' text is ASCII, anything else shows as %uXXXX of its ANSI code
    If code < 0 Then code = code + 65536
    If c = "%" Or c = " " Then
      out = out & "%" & Right("0" & Hex(code), 2)
    ElseIf code < 32 Or code = 127 Then
      out = out & "%" & Right("0" & Hex(code), 2)
    ElseIf code > 127 Then
      out = out & "%u" & Right("000" & Hex(code), 4)
    Else
      out = out & c
    End If
  Next
  HostEscape = out
End Function
`;

// The page's source with its includes in place (file= relative to the including file).
function resolveIncludes(file, depth = 0) {
  if (depth > 8) throw new Error(`includes nested too deep at ${file}`);
  const text = fs.readFileSync(file, 'latin1');
  return text.replace(/<!--\s*#include\s+file\s*=\s*"([^"]+)"\s*-->/gi,
    (_, name) => resolveIncludes(path.join(path.dirname(file), name.replace(/\\/g, '/')), depth + 1));
}

// The page as VBScript: code blocks as they are, <%= %> and the text between blocks as writes.
export function pageToVbs(source) {
  let optionExplicit = false;
  const out = [];
  const write = (text) => {
    if (text === '') return;
    const lines = text.split(/\r?\n/);
    const expression = lines.map((line, i) => {
      const parts = [];
      if (line !== '') parts.push(literal(line));
      if (i < lines.length - 1) parts.push('vbCrLf');
      return parts.join(' & ');
    }).filter((part) => part !== '').join(' & ');
    if (expression) out.push(`Response.Write ${expression}`);
  };
  let at = 0;
  while (at < source.length) {
    const open = source.indexOf('<%', at);
    if (open < 0) {
      write(source.slice(at));
      break;
    }
    write(source.slice(at, open));
    const close = source.indexOf('%>', open + 2);
    if (close < 0) throw new Error('a <% without its %>');
    const block = source.slice(open + 2, close);
    if (block.startsWith('@')) {
      // the page's directive: the language is VBScript here
    } else if (block.startsWith('=')) {
      out.push(`Response.Write ${block.slice(1).trim()}`);
    } else if (/^\s*option\s+explicit\s*$/i.test(block)) {
      optionExplicit = true;
    } else {
      out.push(block);
    }
    at = close + 2;
  }
  return { optionExplicit, body: out.join('\n') };
}

// global.asa's server-side script (its Application_OnStart, run once when the site starts).
function globalAsaScript(dir) {
  const file = path.join(dir, 'global.asa');
  if (!fs.existsSync(file)) return null;
  const text = fs.readFileSync(file, 'latin1');
  const match = /<script[^>]*runat\s*=\s*"?server"?[^>]*>([\s\S]*?)<\/script>/i.exec(text);
  return match ? match[1] : null;
}

export class SiteHost {
  // dir: the site; loader and cscript: the Wine loader and the cscript.exe it runs (its bitness)
  constructor({ dir, loader, cscript, log = () => {} }) {
    this.dir = path.resolve(dir);
    this.loader = loader;
    this.cscript = cscript;
    this.log = log;
    this.sessions = new Map();   // cookie value -> { id, values: Map }
    this.application = new Map();
    this.nextSessionId = 481516000;
    this.queue = Promise.resolve();
    this.bytes = new Map();      // upload id -> Buffer
    this.work = fs.mkdtempSync(path.join(os.tmpdir(), 'vexorin-site-'));
    this.runs = 0;
    this.pages = new Map();      // page path -> times run
  }

  async start() {
    this.server = http.createServer((request, response) => this.handle(request, response).catch((error) => {
      this.log(`host: ${request.url}: ${error.stack || error}`);
      if (!response.headersSent) response.writeHead(500, { 'Content-Type': 'text/plain' });
      response.end('host error');
    }));
    await new Promise((resolve) => this.server.listen(0, '127.0.0.1', resolve));
    this.port = this.server.address().port;
    const onStart = globalAsaScript(this.dir);
    if (onStart !== null) {
      const script = `Option Explicit\n${prelude}\nDim Application : Set Application = New HostValues\n` +
                     `Application.Kind = "APPLICATION"\n${onStart}\nApplication_OnStart\nWScript.Echo "END"\n`;
      const result = await this.run(script, new Map());
      if (!result.ended) throw new Error(`global.asa's Application_OnStart failed: ${result.error}`);
    }
    return this;
  }

  async stop() {
    await new Promise((resolve) => this.server.close(resolve));
    fs.rmSync(this.work, { recursive: true, force: true });
  }

  // The values a session holds, by the session cookie's value.
  session(cookie) {
    const session = this.sessions.get(cookie);
    return session ? Object.fromEntries(session.values) : null;
  }

  async handle(request, response) {
    const url = new URL(request.url, 'http://host');
    if (url.pathname.startsWith('/__host/bytes/') && request.method === 'POST') {
      const chunks = [];
      for await (const chunk of request) chunks.push(chunk);
      const id = crypto.randomBytes(8).toString('hex');
      this.bytes.set(id, Buffer.concat(chunks));
      response.writeHead(200, { 'Content-Type': 'text/plain' }).end(id);
      return;
    }
    const name = path.join(this.dir, decodeURIComponent(url.pathname));
    if (!name.startsWith(this.dir + path.sep) || !fs.existsSync(name) || !fs.statSync(name).isFile() ||
        /^(global\.asa|.*\.inc)$/i.test(path.basename(name))) {
      response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
      return;
    }
    if (path.extname(name).toLowerCase() !== '.asp') {
      const body = fs.readFileSync(name);
      response.writeHead(200, { 'Content-Type': staticTypes[path.extname(name)] || 'application/octet-stream',
                                'Content-Length': body.length });
      response.end(body);
      return;
    }
    const chunks = [];
    for await (const chunk of request) chunks.push(chunk);
    const form = request.method === 'POST' ? new URLSearchParams(Buffer.concat(chunks).toString('utf8')) : new URLSearchParams();
    // One page at a time: a session's requests are served in turn.
    this.pages.set(url.pathname, (this.pages.get(url.pathname) || 0) + 1);
    const turn = this.queue.then(() => this.servePage(name, request, url, form, response));
    this.queue = turn.catch(() => {});
    await turn;
  }

  async servePage(file, request, url, form, response) {
    const cookies = Object.fromEntries((request.headers.cookie || '').split(/;\s*/).filter(Boolean)
      .map((pair) => [pair.slice(0, pair.indexOf('=')), pair.slice(pair.indexOf('=') + 1)]));
    let key = cookies.ASPSESSIONIDVEXORIN;
    const headers = {};
    if (!key || !this.sessions.has(key)) {
      key = crypto.randomBytes(12).toString('hex');
      this.sessions.set(key, { id: this.nextSessionId++, values: new Map() });
      headers['Set-Cookie'] = `ASPSESSIONIDVEXORIN=${key}; path=/`;
    }
    const session = this.sessions.get(key);
    const page = pageToVbs(resolveIncludes(file));
    const lines = [];
    if (page.optionExplicit) lines.push('Option Explicit');
    lines.push(prelude);
    lines.push(`Dim HostBytesUrl : HostBytesUrl = "http://127.0.0.1:${this.port}/__host/bytes/"`);
    lines.push('Dim Session : Set Session = New HostValues', 'Session.Kind = "SESSION"', `Session.SessionID = ${session.id}`);
    for (const [k, v] of session.values) lines.push(`Session.Load ${literal(k)}, ${literal(v)}`);
    lines.push('Dim Application : Set Application = New HostValues', 'Application.Kind = "APPLICATION"');
    for (const [k, v] of this.application) lines.push(`Application.Load ${literal(k)}, ${literal(v)}`);
    lines.push('Dim Request : Set Request = New HostRequest', `Request.RemoteAddr = ${literal(request.socket.remoteAddress || '')}`,
               `Request.Method = ${literal(request.method)}`);
    for (const [k, v] of form) lines.push(`Request.SetForm ${literal(k)}, ${literal(v)}`);
    for (const [k, v] of url.searchParams) lines.push(`Request.SetQuery ${literal(k)}, ${literal(v)}`);
    lines.push('Dim Response : Set Response = New HostResponse', 'Dim Server : Set Server = New HostServer');
    lines.push(page.body);
    lines.push('Response.Finish');
    const result = await this.run(lines.join('\n'), session.values);
    let status = 200;
    let type = 'text/html';
    if (result.status) status = parseInt(result.status, 10) || 500;
    if (result.type) type = result.type;
    Object.assign(headers, result.headers);
    if (result.expires !== undefined) headers.Expires = new Date(Date.now() + Number(result.expires) * 60000).toUTCString();
    let body = Buffer.concat(result.body);
    if (!result.ended) {
      // A run-time error: the server's error page, under whatever type the page had set by then.
      status = 500;
      body = Buffer.from(`<p>Server error in ${path.basename(file)}: ${result.error}</p>`);
    }
    this.log(`host: ${request.method} ${url.pathname} -> ${status} ${type} ${body.length} bytes (${result.ms} ms)`);
    response.writeHead(status, { ...headers, 'Content-Type': type, 'Content-Length': body.length });
    response.end(body);
  }

  // Runs one script under Wine's cscript; applies its session and application records as they come.
  async run(script, sessionValues) {
    const name = `page${++this.runs}.vbs`;
    fs.writeFileSync(path.join(this.work, name), script, 'latin1');
    const started = Date.now();
    const once = () => new Promise((resolve) => {
      execFile(this.loader, [this.cscript, '//nologo', name], { cwd: this.work, maxBuffer: 64 << 20, encoding: 'latin1' },
        (error, stdout, stderr) => resolve({ error, stdout, stderr }));
    });
    let { error, stdout, stderr } = await once();
    // Now and then a Wine program ends at its start having run nothing (scripts/wine.sh says more):
    // such a start is made once more, and counted where the test command counts them.
    if (stdout === '' && stderr === '' && Date.now() - started < 2000) {
      const note = `site_host: cscript ended at its start with no output; started once more`;
      this.log(note);
      if (process.env.WINEPREFIX) fs.appendFileSync(path.join(process.env.WINEPREFIX, 'restarts.log'), note + '\n');
      ({ error, stdout, stderr } = await once());
    }
    const result = { headers: {}, body: [], ended: false, ms: Date.now() - started };
    for (const raw of stdout.split(/\r?\n/)) {
      const [tag, ...fields] = raw.split(' ');
      switch (tag) {
        case 'STATUS': result.status = decode(fields[0]); break;
        case 'TYPE': result.type = decode(fields[0]); break;
        case 'HEADER': result.headers[decode(fields[0])] = decode(fields[1] || ''); break;
        case 'EXPIRES': result.expires = fields[0]; break;
        case 'WRITE': result.body.push(Buffer.from(decode(fields.join(' ')), 'utf8')); break;
        case 'BINARY': {
          const bytes = this.bytes.get(fields[0]);
          this.bytes.delete(fields[0]);
          if (bytes) result.body.push(bytes);
          break;
        }
        case 'SESSION': case 'APPLICATION': {
          const store = tag === 'SESSION' ? sessionValues : this.application;
          const value = stored(fields[1], decode(fields[2] || ''));
          if (value === undefined) store.delete(decode(fields[0]));
          else store.set(decode(fields[0]), value);
          break;
        }
        case 'CLEAR': result.body = []; break;
        case 'END': result.ended = true; break;
        default: break;
      }
    }
    if (!result.ended) {
      result.error = `${error ? error.message.split('\n')[0] : 'no END'}; ${stderr.split('\n').filter((l) => l && !/fixme|err:winediag|systray/.test(l)).slice(-3).join(' | ')} ${stdout.split('\n').filter((l) => !/^[A-Z]+ /.test(l)).slice(-3).join(' | ')}`;
    }
    return result;
  }
}
