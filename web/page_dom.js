// What every part of the page uses: its elements by id, and the message line.
export const $ = (id) => document.getElementById(id);

export function say(text, isError = false) {
    $('message').textContent = text;
    $('message').classList.toggle('error', isError);
}
