/* A plug-in that loads but exports no SMS gateway factory. */
int gateway_without_factory(void);
int gateway_without_factory(void) { return 0; }
