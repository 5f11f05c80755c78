// Loaded by scriptSrc.html through <script src>: a helper the page calls,
// and one whose error must be reported under this file's name and line.
function twice(text) { return text + text; }

function broken() {
  return notDefinedAnywhere + 1;
}
