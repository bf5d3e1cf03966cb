// What every part of the page uses: its elements by id, and the message line.
export const $ = (id) => document.getElementById(id);

// Asks the user to choose one of `choices` ([value, label] each, the last the way out,
// which Escape takes too); resolves with the chosen value.
export function choose(question, choices) {
    const dialog = $('choose');
    dialog.querySelector('p').textContent = question;
    const buttons = choices.map(([value, label]) => {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = label;
        button.addEventListener('click', () => dialog.close(value));
        return button;
    });
    dialog.querySelector('.choices').replaceChildren(...buttons);
    dialog.returnValue = choices.at(-1)[0];
    dialog.showModal();
    buttons[0].focus();
    return new Promise((resolve) => dialog.addEventListener('close', () => resolve(dialog.returnValue), { once: true }));
}

export function say(text, isError = false) {
    $('message').textContent = text;
    $('message').classList.toggle('error', isError);
}
