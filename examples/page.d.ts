// What page script has besides the control (docs/velmoraRemoteConsole.d.ts)
// and TypeScript's scripthost library: the page host's object, and the two
// fields JScript gives an error.
declare var host: IPageHost;

interface Error {
    /** The failing call's status as a negative number: 0x80004005 reads as -2147467259. */
    number: number;
    description: string;
}
