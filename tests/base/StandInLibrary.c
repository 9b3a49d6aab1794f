/* Stand-in for a client library file: what the base session loads, binds and unloads in the
   tests. It exports a version text and a connection counter; "standin_missing" is deliberately
   absent so that the substitute entry point can be seen at work. */
static int Connections = 0;

const char* standin_version(void) { return "1.2.3"; }
int standin_connect(void) { return ++Connections; }
int standin_connections(void) { return Connections; }
