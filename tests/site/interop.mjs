// Interoperability with the pinned altcha-lib both ways, through the vexorin tool (native, or a
// Windows build through a launcher such as `scripts/wine.sh run`).
// usage: node interop.mjs TOOL [LAUNCHER ARGS...]   (the tool last when a launcher is given)
import { execFileSync } from 'node:child_process';
import { createChallenge, solveChallenge, verifySolution } from 'altcha-lib';
import { deriveKey } from 'altcha-lib/algorithms/pbkdf2';
import { deriveHmacKeySecret } from 'altcha-lib/frameworks/shared';

const command = process.argv.slice(2);
if (command.length === 0) {
  console.error('usage: node interop.mjs TOOL [ARGS...]');
  process.exit(2);
}
const secret = 'interop secret \u00e9';
// The key-signature secret altcha-lib's server frameworks make from the main secret.
const keySecret = await deriveHmacKeySecret(secret);
let failures = 0;
const check = (what, ok, detail = '') => {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${detail ? `: ${detail}` : ''}`);
  if (!ok) failures++;
};
// The tool's status and first line; a refusal is an answer here, not an error.
const tool = (...args) => {
  try {
    return { status: 0, out: execFileSync(command[0], [...command.slice(1), ...args], { encoding: 'utf8' }).trim() };
  } catch (error) {
    return { status: error.status, out: String(error.stdout || '').trim() };
  }
};
const payloadOf = (challenge, solution) =>
  btoa(JSON.stringify({ challenge: { parameters: challenge.parameters, signature: challenge.signature }, solution }));

// 1. The component's challenge (the server knows the answer), solved and verified by altcha-lib
//    both ways: by the key signature, without deriving, and by deriving; then by the component.
for (const bind of ['', 'session 42']) {
  const made = tool('--challenge', '--secret', secret, '--cost', '500', ...(bind ? ['--bind', bind] : []));
  check(`component challenge${bind ? ' bound' : ''} made`, made.status === 0, made.out.slice(0, 80));
  const challenge = JSON.parse(made.out);
  const solution = await solveChallenge({ challenge, deriveKey });
  check('altcha-lib solves it', solution !== null, solution && `counter ${solution.counter}`);
  check('it is in the counter form with a key signature',
    typeof challenge.parameters.keySignature === 'string' && challenge.parameters.keyPrefix.length === 32);
  const verdict = await verifySolution({ challenge, solution, deriveKey, hmacSignatureSecret: secret });
  check('altcha-lib verifies it by deriving', verdict.verified, JSON.stringify(verdict));
  let derived = 0;
  const counting = async (...args) => { derived++; return deriveKey(...args); };
  const fast = await verifySolution({ challenge, solution, deriveKey: counting, hmacSignatureSecret: secret,
    hmacKeySignatureSecret: keySecret });
  check('altcha-lib verifies it by its key signature, deriving nothing', fast.verified && derived === 0,
    JSON.stringify(fast));
  const forged = await verifySolution({ challenge, solution: { ...solution, derivedKey: 'ff'.repeat(32) },
    deriveKey, hmacSignatureSecret: secret, hmacKeySignatureSecret: keySecret });
  check('altcha-lib refuses a made-up key by the key signature', !forged.verified && forged.invalidSolution);
  const wrong = await verifySolution({ challenge, solution, deriveKey, hmacSignatureSecret: 'another' });
  check('altcha-lib refuses it under another secret', !wrong.verified && wrong.invalidSignature);
  const payload = payloadOf(challenge, solution);
  const ours = tool('--verify', payload, '--cost', '500', '--secret', secret, ...(bind ? ['--bind', bind] : []));
  check('the component verifies altcha-lib\'s solution', ours.status === 0 && ours.out === 'verified', ours.out);
}

// 2. altcha-lib's challenges (random prefix search, and its deterministic mode with a known
//    counter), solved by its solver, verified by the component with the same secret.
const expiresAt = Math.floor(Date.now() / 1000) + 600;
const variants = [
  { what: 'altcha-lib challenge', options: {} },
  { what: 'altcha-lib challenge with data', options: { data: { session: 'abc' } }, bind: 'abc' },
  { what: 'altcha-lib deterministic challenge', options: { counter: 300 } },
  { what: 'altcha-lib challenge where the server knows the answer',
    options: { counter: 300, hmacKeySignatureSecret: keySecret } },
];
for (const { what, options, bind } of variants) {
  const challenge = await createChallenge({
    algorithm: 'PBKDF2/SHA-256', cost: 500, deriveKey, hmacSignatureSecret: secret, expiresAt, ...options,
  });
  const solution = await solveChallenge({ challenge, deriveKey });
  check(`${what} solved by altcha-lib`, solution !== null);
  const payload = payloadOf(challenge, solution);
  const ours = tool('--verify', payload, '--cost', '500', '--secret', secret, ...(bind ? ['--bind', bind] : []));
  check(`${what} verified by the component`, ours.status === 0 && ours.out === 'verified', ours.out);
  if (options.hmacKeySignatureSecret) {
    const made = JSON.parse(atob(payload));
    made.solution.derivedKey = made.challenge.parameters.keyPrefix + '00'.repeat(16);
    const wrong = tool('--verify', btoa(JSON.stringify(made)), '--cost', '500', '--secret', secret);
    check(`${what}: a key with its prefix but not its signature refused`, wrong.status === 1 && wrong.out === 'invalid solution', wrong.out);
  }
  const other = tool('--verify', payload, '--cost', '500', '--secret', 'another', ...(bind ? ['--bind', bind] : []));
  check(`${what} refused under another secret`, other.status === 1 && other.out === 'invalid signature', other.out);
}
console.log(failures === 0 ? 'all checks passed' : `${failures} check(s) failed`);
process.exit(failures === 0 ? 0 : 1);
