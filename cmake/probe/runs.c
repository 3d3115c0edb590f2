/* Built for the target and run at configure time: it runs when the machine
 * runs the target's code natively. */
int main(void) { return 0; }
